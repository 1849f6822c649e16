// What the simulated world is made of: driver nodes (devices) with their
// ports, the targets on each port's bus, and the chassis.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "registers.h"

namespace zelsim {

enum class TargetKind { Eeprom, Registers, Nack };

// How a register device's registers meet the wire.
enum class RegisterLayout {
    Bytes,          // one byte-addressed space: a transfer at command c moves bytes c, c+1, ...
    WordsMsbFirst,  // 16-bit registers, each sent most-significant byte first (temperature sensors)
};

struct Target {
    TargetKind kind = TargetKind::Nack;
    uint8_t address = 0;  // 8-bit form, bit 0 clear
    // EEPROM
    std::array<uint8_t, 256> memory{};
    unsigned pageSize = 16;
    uint8_t pointer = 0;  // current address of the EEPROM or register pointer
    // Register device: Bytes uses the first 256 bytes; WordsMsbFirst keeps
    // register k as bytes 2k (most significant) and 2k+1.
    RegisterLayout layout = RegisterLayout::Bytes;
    std::array<uint8_t, 512> registers{};
    std::map<uint8_t, uint8_t> blockLengths;  // count of an SMBus block read, per command
    // Faults set from the control interface (cleared with the others).
    bool silent = false;      // stops acknowledging
    uint8_t corruptMask = 0;  // every byte the target sends is xor'ed with it
};

// The register byte that position `index` of a transfer starting at
// `command` reads or writes.
inline uint8_t &registerByte(Target &t, uint8_t command, unsigned index) {
    if (t.layout == RegisterLayout::Bytes) return t.registers[(command + index) & 0xFF];
    return t.registers[(((command + index / 2) & 0xFF) << 1) | (index & 1)];
}

// A 16-bit register of a WordsMsbFirst device as a number.
inline uint16_t wordRegister(const Target &t, unsigned k) {
    return static_cast<uint16_t>(t.registers[2 * (k & 0xFF)] << 8 |
                                 t.registers[2 * (k & 0xFF) + 1]);
}
inline void setWordRegister(Target &t, unsigned k, uint16_t value) {
    t.registers[2 * (k & 0xFF)] = static_cast<uint8_t>(value >> 8);
    t.registers[2 * (k & 0xFF) + 1] = static_cast<uint8_t>(value);
}

struct PortAttributes {
    uint16_t a10001 = 100, a10002 = 0, a10003 = 0, a10004 = 0, a10005 = 0;
    uint32_t a2001 = 0, a3001 = 0, a3002 = 0, a1005 = 0;
    uint8_t a1004 = 0;
};

// Calls visit(field) with the field that holds attribute `id` (its width is
// the field's type); false for an attribute a port does not have.
template <typename Visit>
bool visitAttribute(PortAttributes &a, unsigned id, Visit &&visit) {
    // clang-format off
    switch (id) {
        case 10001: visit(a.a10001); return true;
        case 10002: visit(a.a10002); return true;
        case 10003: visit(a.a10003); return true;
        case 10004: visit(a.a10004); return true;
        case 10005: visit(a.a10005); return true;
        case 2001: visit(a.a2001); return true;
        case 3001: visit(a.a3001); return true;
        case 3002: visit(a.a3002); return true;
        case 1004: visit(a.a1004); return true;
        case 1005: visit(a.a1005); return true;
        default: return false;
    }
    // clang-format on
}

// Stores `value` into an attribute field, cut to the field's width.
template <typename Field>
void storeAttribute(Field &field, uint64_t value) {
    field = static_cast<Field>(value);
}

// The lock owner of a bus that a fault keeps locked: no open file is it.
constexpr uint64_t kLockHeldByFault = UINT64_MAX;
// What zelsim_lock_owner answers for it.
constexpr int kLockHeldByFaultDescriptor = -2;

struct Port {
    bool chassisEeprom = false;
    bool extendedProtection = false;
    std::string text;
    std::vector<uint8_t> protectedAddresses;
    uint32_t chassis = 0;  // 0: belongs to no chassis
    std::vector<Target> targets;
    PortAttributes attributes;
    // The open file holding the bus lock (its open id, nodeFiles.h), 0 when
    // free, or kLockHeldByFault; and the descriptor it was taken through.
    uint64_t lockOwner = 0;
    int lockOwnerDescriptor = -1;
    int lastPec = -1;

    Target *target(unsigned address);
};

struct Device {
    std::string instance = "zel0";
    uint16_t vendorId = 0, deviceId = 0, subsystemVendorId = 0, subsystemId = 0;
    uint16_t bus = 0, device = 0, function = 0;
    std::string deviceString;
    RegisterIdentity identity;
    std::vector<Port> ports;
    std::unique_ptr<RegisterSpace> registers;
    // Answer of command 0x2F: errno to fail with, or a driver word to refuse with.
    int refuseDeviceStringErrno = 0;
    int32_t refuseDeviceStringWord = 0;
};

struct Chassis {
    uint32_t number = 0;
    std::string model, vendor, serial, slot1;
};

struct World {
    std::vector<Device> devices;
    std::vector<Chassis> chassis;
    unsigned lockTimeoutMs = 100;
    bool virtualTime = true;
};

// Reads a world file whole; on failure returns false with the system's
// reason (a directory, no permission) or that the file is empty.
bool readWorldFile(const char *path, std::string &text, std::string &error);
// Parses a world from TOML text; on failure returns false with a message.
// Files the world names are found beside worldFile (the working folder when
// the text comes from no file).
// The version of the world-file format this simulator reads and writes.
constexpr int64_t kWorldFormatVersion = 1;

bool parseWorld(const std::string &text, World &world, std::string &error,
                const std::string &worldFile = {});
// Fills the chassis EEPROMs (0xA4) of every port that belongs to a chassis.
void placeChassisEeproms(World &world);
const char *defaultWorldText();

}  // namespace zelsim
