#include "firmwareImage.h"

#include "firmware/firmwareImageText.h"

namespace zelrel {

std::string systemFirmwareImage(const std::vector<uint8_t> &payload, uint32_t version) {
    nZELSMBUS000::tFirmwareImageFields fields;
    fields.subsystemId = 0x7270;
    fields.pinOutAddress = 0x100;
    fields.pinOutVersion = 255;
    fields.version = version;
    return nZELSMBUS000::formatFirmwareImage(fields, payload.data(), payload.size());
}

}  // namespace zelrel
