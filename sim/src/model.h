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

struct Target {
    TargetKind kind = TargetKind::Nack;
    uint8_t address = 0;  // 8-bit form, bit 0 clear
    // EEPROM
    std::array<uint8_t, 256> memory{};
    unsigned pageSize = 16;
    uint8_t pointer = 0;  // current address of the EEPROM or register pointer
    // register device
    std::array<uint8_t, 256> byteRegisters{};
    std::array<uint16_t, 256> wordRegisters{};
    std::map<uint8_t, std::vector<uint8_t>> blocks;
};

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

struct Port {
    bool chassisEeprom = false;
    bool extendedProtection = false;
    std::string text;
    std::vector<uint8_t> protectedAddresses;
    uint32_t chassis = 0;  // 0: belongs to no chassis
    std::vector<Target> targets;
    PortAttributes attributes;
    int lockOwner = -1;  // descriptor holding the bus lock
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

// Parses a world from TOML text; on failure returns false with a message.
// Files the world names are found beside worldFile (the working folder when
// the text comes from no file).
bool parseWorld(const std::string &text, World &world, std::string &error,
                const std::string &worldFile = {});
// Fills the chassis EEPROMs (0xA4) of every port that belongs to a chassis.
void placeChassisEeproms(World &world);
const char *defaultWorldText();

}  // namespace zelsim
