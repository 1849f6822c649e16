// The devices on a port's bus and how they answer each transaction.
//
// EEPROM (256 bytes, 8-bit offset): byte/word reads and writes at the
// command as offset; send byte sets the address pointer and receive byte
// reads at it (then advances); I2C block reads (and the EEPROM read) read
// sequentially from the command/offset, wrapping at 256; I2C block writes
// are page writes: the address wraps within its page (16 bytes unless the
// world says otherwise). SMBus block transfers and process calls are not
// acknowledged by an EEPROM.
//
// Register device: 256 byte registers, 256 word registers (separate), block
// data per command (up to 32 bytes). Send byte sets the register pointer,
// receive byte reads the byte register it points at. Process call answers the
// bitwise NOT of the word sent (registers unchanged). Block process call
// answers the bytes sent in reverse order. I2C block transfers move byte
// registers from the command on, wrapping at 256.
//
// Addresses without a target, and "nack" targets, answer kStatusNack. Block
// counts above 32 and I2C lengths above 256 are refused with
// kStatusBadLength; the data areas are never written beyond their size.
#include <algorithm>

#include "commands.h"
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

int32_t eeprom(Target &t, unsigned command, Fields &f) {
    uint8_t cmd = static_cast<uint8_t>(f.get("command"));
    switch (command) {
        case 0x09:
        case 0x0A:
            return 0;
        case 0x0B:
            t.pointer = static_cast<uint8_t>(f.get("data"));
            return 0;
        case 0x0C:
            f.set("data", t.memory[t.pointer++]);
            return 0;
        case 0x0D:
            t.memory[cmd] = static_cast<uint8_t>(f.get("data"));
            t.pointer = static_cast<uint8_t>(cmd + 1);
            return 0;
        case 0x0E:
            f.set("data", t.memory[cmd]);
            t.pointer = static_cast<uint8_t>(cmd + 1);
            return 0;
        case 0x0F: {
            uint16_t word = static_cast<uint16_t>(f.get("data"));
            uint8_t next =
                static_cast<uint8_t>((cmd & ~(t.pageSize - 1)) | ((cmd + 1) & (t.pageSize - 1)));
            t.memory[cmd] = static_cast<uint8_t>(word);
            t.memory[next] = static_cast<uint8_t>(word >> 8);
            t.pointer = static_cast<uint8_t>(next + 1);
            return 0;
        }
        case 0x10:
            f.set("data", t.memory[cmd] | (t.memory[static_cast<uint8_t>(cmd + 1)] << 8));
            t.pointer = static_cast<uint8_t>(cmd + 2);
            return 0;
        case 0x15: {
            const uint8_t *data = f.bytes("data");
            uint32_t length = static_cast<uint32_t>(f.get("length"));
            uint8_t page = static_cast<uint8_t>(cmd & ~(t.pageSize - 1));
            unsigned within = cmd & (t.pageSize - 1);
            for (uint32_t i = 0; i < length; ++i) {
                t.memory[page | within] = data[i];
                within = (within + 1) & (t.pageSize - 1);
            }
            t.pointer = static_cast<uint8_t>(page | within);
            return 0;
        }
        case 0x16:
        case 0x17: {
            uint8_t start = static_cast<uint8_t>(f.get(command == 0x16 ? "command" : "offset"));
            uint32_t length = static_cast<uint32_t>(f.get("length"));
            uint8_t *out = f.outBytes("data");
            for (uint32_t i = 0; i < length; ++i)
                out[i] = t.memory[static_cast<uint8_t>(start + i)];
            t.pointer = static_cast<uint8_t>(start + length);
            return 0;
        }
        default:  // SMBus block transfers and process calls
            return kStatusNack;
    }
}

int32_t registers(Target &t, unsigned command, Fields &f) {
    uint8_t cmd = static_cast<uint8_t>(f.get("command"));
    switch (command) {
        case 0x09:
        case 0x0A:
            return 0;
        case 0x0B:
            t.pointer = static_cast<uint8_t>(f.get("data"));
            return 0;
        case 0x0C:
            f.set("data", t.byteRegisters[t.pointer]);
            return 0;
        case 0x0D:
            t.byteRegisters[cmd] = static_cast<uint8_t>(f.get("data"));
            return 0;
        case 0x0E:
            f.set("data", t.byteRegisters[cmd]);
            return 0;
        case 0x0F:
            t.wordRegisters[cmd] = static_cast<uint16_t>(f.get("data"));
            return 0;
        case 0x10:
            f.set("data", t.wordRegisters[cmd]);
            return 0;
        case 0x11:
            f.set("reply", static_cast<uint16_t>(~f.get("data")));
            return 0;
        case 0x12: {
            const uint8_t *data = f.bytes("data");
            t.blocks[cmd].assign(data, data + f.get("count"));
            return 0;
        }
        case 0x13: {
            auto it = t.blocks.find(cmd);
            size_t count = it == t.blocks.end() ? 0 : it->second.size();
            f.set("count", count);
            if (count > 0) std::copy(it->second.begin(), it->second.end(), f.outBytes("data"));
            return 0;
        }
        case 0x14: {
            const uint8_t *data = f.bytes("write_data");
            size_t count = f.get("write_count");
            f.set("read_count", count);
            std::reverse_copy(data, data + count, f.outBytes("read_data"));
            return 0;
        }
        case 0x15: {
            const uint8_t *data = f.bytes("data");
            uint32_t length = static_cast<uint32_t>(f.get("length"));
            for (uint32_t i = 0; i < length; ++i)
                t.byteRegisters[static_cast<uint8_t>(cmd + i)] = data[i];
            return 0;
        }
        case 0x16:
        case 0x17: {
            uint8_t start = static_cast<uint8_t>(f.get(command == 0x16 ? "command" : "offset"));
            uint32_t length = static_cast<uint32_t>(f.get("length"));
            uint8_t *out = f.outBytes("data");
            for (uint32_t i = 0; i < length; ++i)
                out[i] = t.byteRegisters[static_cast<uint8_t>(start + i)];
            return 0;
        }
        default:
            return kStatusNack;
    }
}

// Counts and lengths the driver cannot carry in its data areas.
bool lengthFits(unsigned command, const Fields &f) {
    switch (command) {
        case 0x12:
            return f.get("count") <= 32;
        case 0x14:
            return f.get("write_count") <= 32;
        case 0x15:
        case 0x16:
        case 0x17:
            return f.get("length") <= 256;
        default:
            return true;
    }
}

}  // namespace

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

int32_t runTransaction(Port &port, unsigned command, Fields &fields) {
    if (fields.has("pec")) port.lastPec = static_cast<int>(fields.get("pec"));
    if (!lengthFits(command, fields)) return kStatusBadLength;
    Target *target = port.target(static_cast<unsigned>(fields.get("address")));
    if (target == nullptr) return kStatusNack;
    switch (target->kind) {
        case TargetKind::Eeprom:
            return eeprom(*target, command, fields);
        case TargetKind::Registers:
            return registers(*target, command, fields);
        case TargetKind::Nack:
            break;
    }
    return kStatusNack;
}

}  // namespace zelsim
