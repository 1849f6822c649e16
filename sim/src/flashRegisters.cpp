// The flash model as the register block of every simulated device, and the
// flash part of the control interface.
#include <chrono>
#include <cstring>
#include <memory>

#include "flashModel.h"
#include "registers.h"
#include "sim.h"
#include "vtime.h"
#include "zelsim.h"

namespace zelsim {

namespace {

// Device busy times run on the virtual clock; with virtual time off, on the
// real one.
uint64_t flashClock() {
    if (virtualTime()) return virtualNow();
    return realMonotonicNs();
}

class FlashRegisters : public RegisterBlock {
public:
    explicit FlashRegisters(const RegisterIdentity &identity)
        : model({identity.flashId, identity.signature, identity.firmwareVersion,
                 identity.hasFirmware, identity.firmwareOffset, identity.firmware,
                 identity.hasPinOut, identity.pinOutAddress, identity.pinOutVersion},
                flashClock) {
        if (!identity.flashContentsGiven) return;
        model.writeArray(0, std::vector<uint8_t>(model.size(), 0xFF).data(), model.size());
        for (const auto &[address, bytes] : identity.flashContents)
            model.writeArray(address, bytes.data(), bytes.size());
    }
    bool claims(uint32_t offset) const override { return FlashModel::claims(offset); }
    int32_t read(uint32_t offset, uint32_t &value) override { return model.read(offset, value); }
    int32_t write(uint32_t offset, uint32_t value) override { return model.write(offset, value); }
    std::vector<uint8_t> array() const override {
        std::vector<uint8_t> bytes(model.size());
        model.readArray(0, bytes.data(), bytes.size());
        return bytes;
    }

    FlashModel model;
};

using Lock = std::lock_guard<std::mutex>;

// Under the mutex: the flash model of a node, or null.
FlashModel *flashOf(Sim &s, unsigned node) {
    if (node >= s.world.devices.size() || !s.world.devices[node].registers) return nullptr;
    auto *block = dynamic_cast<FlashRegisters *>(s.world.devices[node].registers->blockAt(64));
    return block == nullptr ? nullptr : &block->model;
}

}  // namespace

std::unique_ptr<RegisterBlock> makeFlashRegisters(const RegisterIdentity &identity) {
    return std::make_unique<FlashRegisters>(identity);
}

}  // namespace zelsim

using namespace zelsim;

extern "C" {

ZELSIM_API size_t zelsim_flash_size(unsigned node) {
    if (refusedInSharedWorld(__func__)) return 0;
    Sim &s = sim();
    Lock lock(s.mutex);
    FlashModel *flash = flashOf(s, node);
    return flash == nullptr ? 0 : flash->size();
}

ZELSIM_API int zelsim_flash_read(unsigned node, uint32_t address, void *buffer, size_t length) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    FlashModel *flash = flashOf(s, node);
    if (flash == nullptr || (buffer == nullptr && length > 0)) return -1;
    flash->readArray(address, static_cast<uint8_t *>(buffer), length);
    return 0;
}

ZELSIM_API int zelsim_flash_write(unsigned node, uint32_t address, const void *buffer,
                                  size_t length) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    FlashModel *flash = flashOf(s, node);
    if (flash == nullptr || (buffer == nullptr && length > 0)) return -1;
    flash->writeArray(address, static_cast<const uint8_t *>(buffer), length);
    return 0;
}

ZELSIM_API int zelsim_flash_fault(unsigned node, enum zelsim_flash_fault fault, uint32_t value) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    FlashModel *flash = flashOf(s, node);
    if (flash == nullptr) return -1;
    switch (fault) {
        case ZELSIM_FLASH_INTERFACE_STUCK:
            flash->interfaceStuck = value != 0;
            break;
        case ZELSIM_FLASH_DEVICE_BUSY:
            flash->deviceStuckBusy = value != 0;
            break;
        case ZELSIM_FLASH_DROP_PROGRAMS:
            flash->dropPrograms = value;
            break;
        case ZELSIM_FLASH_STATUS_BITS:
            flash->extraStatusBits = value;
            break;
        case ZELSIM_FLASH_MISS_IDENTIFY:
            flash->missIdentify = value;
            break;
        case ZELSIM_FLASH_MISS_READ:
            flash->missRead = value;
            break;
        case ZELSIM_FLASH_MISS_DATA_WORD:
            flash->missDataWord = value;
            break;
        default:
            return -1;
    }
    return 0;
}

ZELSIM_API int zelsim_flash_set_identity(unsigned node, uint16_t flash_id, uint32_t signature) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    FlashModel *flash = flashOf(s, node);
    if (flash == nullptr) return -1;
    flash->setIdentity(flash_id, signature);
    return 0;
}

ZELSIM_API int zelsim_flash_set_version(unsigned node, uint32_t version) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    FlashModel *flash = flashOf(s, node);
    if (flash == nullptr) return -1;
    flash->setFirmwareVersion(version);
    return 0;
}

ZELSIM_API int zelsim_flash_device_state(unsigned node, struct zelsim_flash_state *state) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    FlashModel *flash = flashOf(s, node);
    if (flash == nullptr || state == nullptr) return -1;
    const FlashModel::State now = flash->state();
    *state = zelsim_flash_state{};
    state->selected = now.selected ? 1 : 0;
    state->open_instruction = now.openInstruction;
    state->write_enabled = now.writeEnabled ? 1 : 0;
    state->status_register = now.statusRegister;
    state->protection = now.protection;
    state->auto_increment = now.autoIncrement ? 1 : 0;
    state->busy = now.busy ? 1 : 0;
    state->busy_ns_left = now.busyNsLeft;
    state->indirect_transfer_open = now.indirectTransferOpen ? 1 : 0;
    state->reset_granted = now.resetGranted ? 1 : 0;
    return 0;
}

ZELSIM_API int zelsim_flash_instructions(unsigned node, uint8_t seen[32], int clear) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    FlashModel *flash = flashOf(s, node);
    if (flash == nullptr || seen == nullptr) return -1;
    std::memcpy(seen, flash->instructionsSeen.data(), flash->instructionsSeen.size());
    if (clear) flash->instructionsSeen.fill(0);
    return 0;
}

ZELSIM_API int zelsim_flash_activations(unsigned node, unsigned *count) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    FlashModel *flash = flashOf(s, node);
    if (flash == nullptr || count == nullptr) return -1;
    *count = flash->activations();
    return 0;
}

}  // extern "C"
