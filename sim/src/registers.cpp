#include "registers.h"

#include "statusWords.h"

namespace zelsim {

__attribute__((weak)) std::unique_ptr<RegisterBlock> makeFlashRegisters(const RegisterIdentity &) {
    return nullptr;
}

RegisterSpace::RegisterSpace(const RegisterIdentity &identity) : identity_(identity) {
    addBlock(makeFlashRegisters(identity_));
}

void RegisterSpace::addBlock(std::unique_ptr<RegisterBlock> block) {
    if (block) blocks_.push_back(std::move(block));
}

RegisterBlock *RegisterSpace::blockFor(uint32_t offset) const {
    for (const auto &block : blocks_) {
        if (block->claims(offset)) return block.get();
    }
    return nullptr;
}

int32_t RegisterSpace::read(uint32_t offset, uint32_t &value) {
    // A block may take over the signature and version too (the flash model
    // raises the version when new firmware starts).
    if (RegisterBlock *block = blockFor(offset)) return block->read(offset, value);
    if (offset == kSignatureRegister) {
        value = identity_.signature;
        return 0;
    }
    if (offset == kFirmwareVersionRegister) {
        value = identity_.firmwareVersion;
        return 0;
    }
    auto it = plain_.find(offset);
    value = it == plain_.end() ? 0 : it->second;
    return 0;
}

int32_t RegisterSpace::write(uint32_t offset, uint32_t value) {
    if (RegisterBlock *block = blockFor(offset)) return block->write(offset, value);
    if (offset == kSignatureRegister || offset == kFirmwareVersionRegister) return kStatusReadOnly;
    plain_[offset] = value;
    return 0;
}

}  // namespace zelsim
