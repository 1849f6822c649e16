// zelsmbus dump: the registers of a device (all 256, or a range) as a table.
#include <zelsmbus.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <string>

#include "commands.h"
#include "failure.h"
#include "hexTable.h"
#include "jsonWriter.h"
#include "options.h"
#include "session.h"
#include "transferMode.h"

namespace zelsmbus_tool {
namespace {

struct DumpArgs {
    std::string resource, address, mode = "b", range;
};

// Stops the dump when the library refuses the address itself: a table of XX
// would wrongly suggest that nothing answers there.
void refuseProtected(int32_t status, const std::string &resource, uint8_t address7) {
    if (status == ZELSMBUS_ERROR_PROTECTED) {
        checkTransfer(status, "cannot dump " + showAddress(address7) + " on " + resource);
    }
}

// Reads the cells of the table within the range; words holds one word per
// register in mode w. Cells outside the range stay blank.
void readCells(const Session &s, uint8_t address7, const TransferMode &mode,
               const RegisterRange &range, ByteCells &bytes, std::array<int, 256> &words) {
    const int first = int(range.first), last = int(range.last);
    tSMBusHandle *h = s.handle();
    const uint8_t address = toWire(address7);
    const int32_t pec = mode.pec ? 1 : 0;
    bytes.fill(kBlank);
    words.fill(kBlank);
    switch (mode.mode) {
        case Mode::Byte:
            for (int reg = first; reg <= last; ++reg) {
                uint8_t value = 0;
                const int32_t status = ZELSMBusReadByte(h, address, uint8_t(reg), pec, &value);
                refuseProtected(status, s.resource(), address7);
                bytes[reg] = status < 0 ? kFailed : value;
            }
            break;
        case Mode::Word:
            for (int reg = first; reg <= last; ++reg) {
                uint16_t value = 0;
                const int32_t status = ZELSMBusReadWord(h, address, uint8_t(reg), pec, &value);
                refuseProtected(status, s.resource(), address7);
                words[reg] = status < 0 ? kFailed : value;
            }
            break;
        case Mode::SendReceive: {
            // Point the device at the first register, then read on from there.
            const int32_t status = ZELSMBusSendByte(h, address, uint8_t(first), pec);
            refuseProtected(status, s.resource(), address7);
            for (int reg = first; reg <= last; ++reg) {
                uint8_t value = 0;
                const int32_t received =
                    status < 0 ? status : ZELSMBusReceiveByte(h, address, pec, &value);
                bytes[reg] = received < 0 ? kFailed : value;
            }
            break;
        }
        case Mode::Block: {
            uint8_t count = 0;
            uint8_t data[ZELSMBUS_BLOCK_MAX] = {};
            const int32_t status = ZELSMBusReadBlock(h, address, 0, pec, &count, data);
            refuseProtected(status, s.resource(), address7);
            if (status < 0) {
                for (unsigned i = 0; i < ZELSMBUS_BLOCK_MAX; ++i) bytes[i] = kFailed;
            } else {
                for (unsigned i = 0; i < count && i < ZELSMBUS_BLOCK_MAX; ++i) bytes[i] = data[i];
            }
            break;
        }
        case Mode::I2CBlock:
            // 32 bytes a transfer, so that one failed transfer costs one row pair.
            for (int start = first; start <= last; start += 32) {
                const int count = std::min(32, last - start + 1);
                uint8_t data[32] = {};
                const int32_t status =
                    ZELSMBusReadBlockI2C(h, address, uint8_t(start), uint32_t(count), data);
                refuseProtected(status, s.resource(), address7);
                for (int i = 0; i < count; ++i) bytes[start + i] = status < 0 ? kFailed : data[i];
            }
            break;
        default:
            break;
    }
}

void writeCells(JsonWriter &json, const char *name, const int *cells, size_t n) {
    json.key(name).beginArray();
    for (size_t i = 0; i < n; ++i) {
        if (cells[i] == kBlank) continue;  // only a block's own bytes are part of it
        if (cells[i] == kFailed) {
            json.null();
        } else {
            json.value(int64_t(cells[i]));
        }
    }
    json.endArray();
}

void runDump(const DumpArgs &args) {
    const uint8_t address7 = parseAddress(args.address);
    const TransferMode mode = parseMode(args.mode, "b w c s i");
    RegisterRange range;
    if (!args.range.empty()) {
        range = parseRegisterRange(args.range);
        if (mode.mode == Mode::Block) {
            throw UsageError("mode s reads one block from command 0; -r does not apply to it");
        }
    }
    Session session(args.resource, commonOptions().unrestricted);
    ByteCells bytes;
    std::array<int, 256> words;
    readCells(session, address7, mode, range, bytes, words);

    if (commonOptions().json) {
        JsonWriter json(std::cout);
        json.beginObject()
            .member("resource", args.resource)
            .member("address", jsonAddress(address7))
            .member("mode", mode.word)
            .member("pec", mode.pec)
            .member("first", range.first)
            .member("last", range.last);
        if (mode.mode == Mode::Word) {
            writeCells(json, "words", words.data(), words.size());
        } else {
            writeCells(json, "bytes", bytes.data(), bytes.size());
        }
        json.endObject();
        json.finish();
    } else if (mode.mode == Mode::Word) {
        printWordTable(std::cout, words);
    } else {
        printByteTable(std::cout, bytes);
    }
}

}  // namespace

Command addDumpCommand(CLI::App &tool) {
    static DumpArgs args;
    CLI::App *app = tool.add_subcommand("dump",
                                        "Read the 256 registers of a device (or -r FIRST-LAST) and "
                                        "print them as a table with ASCII");
    app->add_option("RESOURCE", args.resource, "Resource name")->required();
    app->add_option("ADDRESS", args.address, "Device address (7-bit unless --8bit)")->required();
    app->add_option("-r,--range", args.range,
                    "Only registers FIRST-LAST (such as 0x10-0x1f; not in mode s)");
    app->add_option("MODE", args.mode,
                    "b (read byte, default), w (read word), c (send 0, then receive bytes), "
                    "s (SMBus block from command 0), i (I2C blocks); 'p' suffix for PEC (not i)");
    addJsonOption(*app);
    addAddressOptions(*app);
    addUnrestrictedOption(*app);
    addAcceptedYesOption(*app);
    return {app, "zelsmbus dump [OPTIONS] RESOURCE ADDRESS [MODE]", [] { runDump(args); }};
}

}  // namespace zelsmbus_tool
