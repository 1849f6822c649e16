// The devices on a port's bus and how they answer each transaction: one
// handler per transaction command, each answered by the addressed target.
//
// EEPROM (256 bytes, 8-bit offset): byte/word reads and writes at the
// command as offset; send byte sets the address pointer and receive byte
// reads at it (then advances); I2C block reads (and the EEPROM read) read
// sequentially from the command/offset, wrapping at 256; I2C block writes
// are page writes: the address wraps within its page (16 bytes unless the
// world says otherwise). SMBus block transfers and process calls are not
// acknowledged by an EEPROM.
//
// Register device: every transfer at command c moves the bytes the layout
// places from c on (registerByte in model.h), so byte, word (first byte on
// the wire in the low bits) and block transfers agree with each other. Send
// byte sets the register pointer, receive byte reads at it. An SMBus block
// write also records its count as that command's block length. Process call
// answers the bitwise NOT of the word sent, block process call the bytes
// sent in reverse order; neither changes a register.
//
// Addresses without a target, "nack" targets and silenced targets answer
// kStatusNack. Block counts above 32 and I2C lengths above 256 are refused
// with kStatusBadLength; the data areas are never written beyond their size.
#include <algorithm>

#include "commands.h"
#include "handlers.h"
#include "sim.h"
#include "statusWords.h"

namespace zelsim {

Target *Port::target(unsigned address) {
    for (Target &t : targets) {
        if (t.address == (address & 0xFE)) return &t;
    }
    return nullptr;
}

namespace {

constexpr uint8_t kChassisEepromAddress = 0xA4;

struct TextField {
    unsigned offset, length;
};
constexpr TextField kModelField{5, 60}, kVendorField{65, 40}, kSerialField{106, 13};

void putText(std::array<uint8_t, 256> &memory, TextField field, const std::string &text) {
    std::fill_n(memory.begin() + field.offset, field.length, 0);
    std::copy_n(text.begin(), std::min<size_t>(text.size(), field.length),
                memory.begin() + field.offset);
}

bool isEeprom(const Target &t) { return t.kind == TargetKind::Eeprom; }

// The byte at position `index` of a transfer that starts at `start`.
uint8_t &cell(Target &t, uint8_t start, unsigned index) {
    if (isEeprom(t)) return t.memory[(start + index) & 0xFF];
    return registerByte(t, start, index);
}

// A byte as the target puts it on the wire.
uint8_t sent(const Target &t, uint8_t byte) { return byte ^ t.corruptMask; }

// Counts and lengths the driver cannot carry in its data areas.
bool lengthFits(const Fields &f) {
    if (f.has("count") && f.get("count") > 32) return false;
    if (f.has("write_count") && f.get("write_count") > 32) return false;
    return !f.has("length") || f.get("length") <= 256;
}

// Runs `body` on the addressed target, or answers what ends the transaction first.
template <typename Body>
int32_t transaction(Call &c, Body body) {
    Fields &f = c.fields;
    if (f.has("pec")) c.port->lastPec = static_cast<int>(f.get("pec"));
    if (!lengthFits(f)) return kStatusBadLength;
    Target *t = c.port->target(static_cast<unsigned>(f.get("address")));
    if (t == nullptr || t->kind == TargetKind::Nack || t->silent) return kStatusNack;
    return body(*t, f);
}

uint8_t commandByte(const Fields &f) { return static_cast<uint8_t>(f.get("command")); }

// Reads `length` bytes from `start` into `out`.
void readSequence(Target &t, uint8_t start, uint32_t length, uint8_t *out) {
    for (uint32_t i = 0; i < length; ++i) out[i] = sent(t, cell(t, start, i));
    if (isEeprom(t)) t.pointer = static_cast<uint8_t>(start + length);
}

}  // namespace

namespace handlers {

int32_t quickWrite(Call &c) {
    return transaction(c, [](Target &, Fields &) { return 0; });
}

int32_t quickRead(Call &c) {
    return transaction(c, [](Target &, Fields &) { return 0; });
}

int32_t sendByte(Call &c) {
    return transaction(c, [](Target &t, Fields &f) {
        t.pointer = static_cast<uint8_t>(f.get("data"));
        return 0;
    });
}

int32_t receiveByte(Call &c) {
    return transaction(c, [](Target &t, Fields &f) {
        f.set("data", sent(t, cell(t, t.pointer, 0)));
        if (isEeprom(t)) ++t.pointer;
        return 0;
    });
}

int32_t writeByte(Call &c) {
    return transaction(c, [](Target &t, Fields &f) {
        const uint8_t command = commandByte(f);
        cell(t, command, 0) = static_cast<uint8_t>(f.get("data"));
        if (isEeprom(t)) t.pointer = static_cast<uint8_t>(command + 1);
        return 0;
    });
}

int32_t readByte(Call &c) {
    return transaction(c, [](Target &t, Fields &f) {
        const uint8_t command = commandByte(f);
        f.set("data", sent(t, cell(t, command, 0)));
        if (isEeprom(t)) t.pointer = static_cast<uint8_t>(command + 1);
        return 0;
    });
}

int32_t writeWord(Call &c) {
    return transaction(c, [](Target &t, Fields &f) {
        const uint8_t command = commandByte(f);
        const uint16_t word = static_cast<uint16_t>(f.get("data"));
        if (!isEeprom(t)) {
            cell(t, command, 0) = static_cast<uint8_t>(word);
            cell(t, command, 1) = static_cast<uint8_t>(word >> 8);
            return 0;
        }
        // The second byte stays within the page, as a page write does.
        const uint8_t next = static_cast<uint8_t>((command & ~(t.pageSize - 1)) |
                                                  ((command + 1) & (t.pageSize - 1)));
        t.memory[command] = static_cast<uint8_t>(word);
        t.memory[next] = static_cast<uint8_t>(word >> 8);
        t.pointer = static_cast<uint8_t>(next + 1);
        return 0;
    });
}

int32_t readWord(Call &c) {
    return transaction(c, [](Target &t, Fields &f) {
        const uint8_t command = commandByte(f);
        f.set("data", sent(t, cell(t, command, 0)) | sent(t, cell(t, command, 1)) << 8);
        if (isEeprom(t)) t.pointer = static_cast<uint8_t>(command + 2);
        return 0;
    });
}

int32_t processCall(Call &c) {
    return transaction(c, [](Target &t, Fields &f) {
        if (isEeprom(t)) return kStatusNack;
        const uint16_t reply = static_cast<uint16_t>(~f.get("data"));
        f.set("reply", sent(t, static_cast<uint8_t>(reply)) |
                           sent(t, static_cast<uint8_t>(reply >> 8)) << 8);
        return 0;
    });
}

int32_t writeBlock(Call &c) {
    return transaction(c, [](Target &t, Fields &f) {
        if (isEeprom(t)) return kStatusNack;
        const uint8_t command = commandByte(f);
        const uint8_t count = static_cast<uint8_t>(f.get("count"));
        const uint8_t *data = f.bytes("data");
        for (unsigned i = 0; i < count; ++i) cell(t, command, i) = data[i];
        t.blockLengths[command] = count;
        return 0;
    });
}

int32_t readBlock(Call &c) {
    return transaction(c, [](Target &t, Fields &f) {
        if (isEeprom(t)) return kStatusNack;
        const uint8_t command = commandByte(f);
        auto it = t.blockLengths.find(command);
        const uint8_t count = it == t.blockLengths.end() ? 0 : it->second;
        f.set("count", count);
        readSequence(t, command, count, f.outBytes("data"));
        return 0;
    });
}

int32_t blockProcessCall(Call &c) {
    return transaction(c, [](Target &t, Fields &f) {
        if (isEeprom(t)) return kStatusNack;
        const uint8_t *data = f.bytes("write_data");
        const size_t count = f.get("write_count");
        uint8_t *out = f.outBytes("read_data");
        f.set("read_count", count);
        for (size_t i = 0; i < count; ++i) out[i] = sent(t, data[count - 1 - i]);
        return 0;
    });
}

int32_t writeBlockI2C(Call &c) {
    return transaction(c, [](Target &t, Fields &f) {
        const uint8_t command = commandByte(f);
        const uint8_t *data = f.bytes("data");
        const uint32_t length = static_cast<uint32_t>(f.get("length"));
        if (!isEeprom(t)) {
            for (uint32_t i = 0; i < length; ++i) cell(t, command, i) = data[i];
            return 0;
        }
        // A page write: the address wraps within its page.
        const uint8_t page = static_cast<uint8_t>(command & ~(t.pageSize - 1));
        unsigned within = command & (t.pageSize - 1);
        for (uint32_t i = 0; i < length; ++i) {
            t.memory[page | within] = data[i];
            within = (within + 1) & (t.pageSize - 1);
        }
        t.pointer = static_cast<uint8_t>(page | within);
        return 0;
    });
}

int32_t readBlockI2C(Call &c) {
    return transaction(c, [](Target &t, Fields &f) {
        readSequence(t, commandByte(f), static_cast<uint32_t>(f.get("length")), f.outBytes("data"));
        return 0;
    });
}

int32_t readI2CEEPROM(Call &c) {
    return transaction(c, [](Target &t, Fields &f) {
        readSequence(t, static_cast<uint8_t>(f.get("offset")),
                     static_cast<uint32_t>(f.get("length")), f.outBytes("data"));
        return 0;
    });
}

}  // namespace handlers

void placeChassisEeproms(World &world) {
    for (Device &device : world.devices) {
        for (Port &port : device.ports) {
            if (port.chassis == 0) continue;
            const Chassis *chassis = nullptr;
            for (const Chassis &c : world.chassis) {
                if (c.number == port.chassis) chassis = &c;
            }
            if (chassis == nullptr) continue;
            Target *target = port.target(kChassisEepromAddress);
            if (target == nullptr) {
                Target fresh;
                fresh.kind = TargetKind::Eeprom;
                fresh.address = kChassisEepromAddress;
                fresh.memory.fill(0xFF);
                port.targets.push_back(fresh);
                target = &port.targets.back();
            }
            if (target->kind != TargetKind::Eeprom) continue;
            putText(target->memory, kModelField, chassis->model);
            putText(target->memory, kVendorField, chassis->vendor);
            putText(target->memory, kSerialField, chassis->serial);
        }
    }
}

}  // namespace zelsim
