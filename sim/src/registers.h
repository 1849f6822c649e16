// A controller's register space as commands 0x18 (read) and 0x19 (write)
// reach it: 32-bit registers at byte offsets. Register 0 holds the signature
// and register 4 the firmware version (both read-only); any other offset is
// plain storage unless a RegisterBlock claims it (the flash model does so for
// its serial and indirect ports).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace zelsim {

constexpr uint32_t kSignatureRegister = 0;
constexpr uint32_t kFirmwareVersionRegister = 4;

// What a device's registers are built from (taken from the world file).
struct RegisterIdentity {
    uint16_t flashId = 0;
    uint32_t signature = 0x727EBABE;
    uint32_t firmwareVersion = 0;
    uint16_t subsystemId = 0;
    // The flash array as the world file gives it: when set, the array starts
    // erased and holds these runs (address, bytes).
    bool flashContentsGiven = false;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> flashContents;
    // Flash contents from the world (keys firmware_image and pin_out).
    bool hasFirmware = false;
    uint32_t firmwareOffset = 0;
    std::vector<uint8_t> firmware;
    bool hasPinOut = false;
    uint32_t pinOutAddress = 0;
    uint8_t pinOutVersion = 0;
};

// A group of registers with behaviour of its own. Every call runs under the
// simulator's state mutex; results are driver status words (0 = success).
class RegisterBlock {
public:
    virtual ~RegisterBlock() = default;
    virtual bool claims(uint32_t offset) const = 0;
    virtual int32_t read(uint32_t offset, uint32_t &value) = 0;
    virtual int32_t write(uint32_t offset, uint32_t value) = 0;
    // The memory array behind the block (a flash), for a snapshot of the world.
    virtual std::vector<uint8_t> array() const { return {}; }
};

// Called once per device when its register space is built. The plain
// simulator answers nullptr (weak definition in registers.cpp); the flash
// model overrides it with a strong definition.
std::unique_ptr<RegisterBlock> makeFlashRegisters(const RegisterIdentity &identity);

class RegisterSpace {
public:
    explicit RegisterSpace(const RegisterIdentity &identity);

    int32_t read(uint32_t offset, uint32_t &value);
    int32_t write(uint32_t offset, uint32_t value);

    const RegisterIdentity &identity() const { return identity_; }
    void addBlock(std::unique_ptr<RegisterBlock> block);
    // The block that claims an offset, or null (the control interface reaches
    // the flash model this way).
    RegisterBlock *blockAt(uint32_t offset) const { return blockFor(offset); }

private:
    RegisterBlock *blockFor(uint32_t offset) const;

    RegisterIdentity identity_;
    std::map<uint32_t, uint32_t> plain_;
    std::vector<std::unique_ptr<RegisterBlock>> blocks_;
};

}  // namespace zelsim
