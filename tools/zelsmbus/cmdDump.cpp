// zelsmbus dump: the registers of a device (all 256, or a range) as a table.
#include <zelsmbus.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <iostream>
#include <string>

#include "commands.h"
#include "failure.h"
#include "hexTable.h"
#include "jsonWriter.h"
#include "options.h"
#include "session.h"
#include "statusText.h"
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

// The table's cells, and for each cell the tool could not read, why.
struct DumpCells {
    ByteCells bytes;
    std::array<int, 256> words;
    std::array<int32_t, 256> errors;
};

// The cell a read gives: its value, kFailed when no device acknowledged it,
// kUnread (with the status kept) when it could not be made.
int cellOf(int32_t status, int value, int32_t &error) {
    if (status >= 0) return value;
    if (isNoAcknowledgement(status)) return kFailed;
    error = status;
    return kUnread;
}

// Reads the cells of the table within the range (one word per register in
// mode w). Cells outside the range stay blank.
void readCells(const Session &s, uint8_t address7, const TransferMode &mode,
               const RegisterRange &range, DumpCells &cells) {
    const int first = int(range.first), last = int(range.last);
    tSMBusHandle *h = s.handle();
    const uint8_t address = toWire(address7);
    const int32_t pec = mode.pec ? 1 : 0;
    ByteCells &bytes = cells.bytes;
    cells.bytes.fill(kBlank);
    cells.words.fill(kBlank);
    cells.errors.fill(0);
    ScanBudget budget;
    switch (mode.mode) {
        case Mode::Byte:
            for (int reg = first; reg <= last; ++reg) {
                uint8_t value = 0;
                const int32_t status = budget.run(
                    [&] { return ZELSMBusReadByte(h, address, uint8_t(reg), pec, &value); });
                refuseProtected(status, s.resource(), address7);
                bytes[reg] = cellOf(status, value, cells.errors[reg]);
            }
            break;
        case Mode::Word:
            for (int reg = first; reg <= last; ++reg) {
                uint16_t value = 0;
                const int32_t status = budget.run(
                    [&] { return ZELSMBusReadWord(h, address, uint8_t(reg), pec, &value); });
                refuseProtected(status, s.resource(), address7);
                cells.words[reg] = cellOf(status, value, cells.errors[reg]);
            }
            break;
        case Mode::SendReceive: {
            // Point the device at the first register, then read on from there.
            const int32_t status =
                budget.run([&] { return ZELSMBusSendByte(h, address, uint8_t(first), pec); });
            refuseProtected(status, s.resource(), address7);
            for (int reg = first; reg <= last; ++reg) {
                uint8_t value = 0;
                const int32_t received = status < 0 ? status : budget.run([&] {
                    return ZELSMBusReceiveByte(h, address, pec, &value);
                });
                bytes[reg] = cellOf(received, value, cells.errors[reg]);
            }
            break;
        }
        case Mode::Block: {
            uint8_t count = 0;
            uint8_t data[ZELSMBUS_BLOCK_MAX] = {};
            const int32_t status = ZELSMBusReadBlock(h, address, 0, pec, &count, data);
            refuseProtected(status, s.resource(), address7);
            if (status < 0) {
                for (unsigned i = 0; i < ZELSMBUS_BLOCK_MAX; ++i) {
                    bytes[i] = cellOf(status, 0, cells.errors[i]);
                }
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
                const int32_t status = budget.run([&] {
                    return ZELSMBusReadBlockI2C(h, address, uint8_t(start), uint32_t(count), data);
                });
                refuseProtected(status, s.resource(), address7);
                for (int i = 0; i < count; ++i) {
                    bytes[start + i] = cellOf(status, data[i], cells.errors[start + i]);
                }
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
        if (cells[i] == kFailed || cells[i] == kUnread) {
            json.null();
        } else {
            json.value(int64_t(cells[i]));
        }
    }
    json.endArray();
}

// The registers the tool could not read, with why, as "unread":[{register,error}].
void writeUnread(JsonWriter &json, const int *cells, const DumpCells &all) {
    json.key("unread").beginArray();
    for (size_t reg = 0; reg < all.errors.size(); ++reg) {
        if (cells[reg] != kUnread) continue;
        json.beginObject().member("register", int64_t(reg)).key("error");
        writeStatus(json, all.errors[reg]);
        json.endObject();
    }
    json.endArray();
}

// Ends a dump with cells it could not read as a failure, in the user's words.
void failUnread(const std::string &resource, uint8_t address7, const int *cells,
                const DumpCells &all) {
    int count = 0;
    int32_t status = 0;
    for (size_t reg = 0; reg < all.errors.size(); ++reg) {
        if (cells[reg] != kUnread) continue;
        if (count++ == 0) status = all.errors[reg];
    }
    if (count == 0) return;
    const std::string what = "could not read " + std::to_string(count) +
                             (count == 1 ? " register" : " registers") + " of " +
                             showAddress(address7) + " on " + resource + " (UU)";
    try {
        check(status, what);  // an error: throws, with the next step for a busy bus
    } catch (ToolError &error) {
        if (commonOptions().json) error.shownInDocument();
        throw;
    }
}

void runDump(const DumpArgs &args) {
    const uint8_t address7 = parseAddress(args.address);
    const TransferMode mode = parseMode(args.mode, ModeUse::Read);
    RegisterRange range;
    if (!args.range.empty()) {
        range = parseRegisterRange(args.range);
        if (mode.mode == Mode::Block) {
            throw UsageError("mode s reads one block from command 0; -r does not apply to it");
        }
    }
    Session session(args.resource, commonOptions().unrestricted);
    DumpCells cells;
    readCells(session, address7, mode, range, cells);
    const int *shown = mode.mode == Mode::Word ? cells.words.data() : cells.bytes.data();

    if (commonOptions().json) {
        JsonWriter json(std::cout);
        json.beginObject()
            .member("resource", args.resource)
            .member("address", jsonAddress(address7))
            .member("mode", mode.word)
            .member("pec", mode.pec)
            .member("first", range.first)
            .member("last", range.last);
        writeCells(json, mode.mode == Mode::Word ? "words" : "bytes", shown, 256);
        writeUnread(json, shown, cells);
        json.endObject();
        json.finish();
    } else if (mode.mode == Mode::Word) {
        printWordTable(std::cout, cells.words);
    } else {
        printByteTable(std::cout, cells.bytes);
    }
    failUnread(args.resource, address7, shown, cells);
}

}  // namespace

Command addDumpCommand(CLI::App &tool) {
    static DumpArgs args;
    CLI::App *app = tool.add_subcommand("dump",
                                        "Read the 256 registers of a device (or -r FIRST-LAST) and "
                                        "print them as a table with ASCII: XX where no device "
                                        "acknowledged the read, UU where it could not be made "
                                        "(the bus lock held by another program, or another "
                                        "error; the exit status is then 1)");
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
