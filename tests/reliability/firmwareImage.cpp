#include "firmwareImage.h"

#include "flash/firmwareImageText.h"
#include "zelsim.h"

namespace zelrel {

namespace {
constexpr unsigned kSystemNode = 0;
constexpr uint32_t kSystemPinOutAddress = 0x100;
constexpr uint8_t kSystemPinOut[4] = {3, 0x00, 0x5A, 0xA5};
}  // namespace

void installSystemPinOut() {
    zelsim_flash_write(kSystemNode, kSystemPinOutAddress, kSystemPinOut, sizeof kSystemPinOut);
}

std::string systemFirmwareImage(const std::vector<uint8_t> &payload, uint32_t version) {
    nZELSMBUS000::tFirmwareImageFields fields;
    fields.subsystemId = 0x7270;
    fields.pinOutAddress = kSystemPinOutAddress;
    fields.pinOutVersion = kSystemPinOut[0];
    fields.version = version;
    return nZELSMBUS000::formatFirmwareImage(fields, payload.data(), payload.size());
}

}  // namespace zelrel
