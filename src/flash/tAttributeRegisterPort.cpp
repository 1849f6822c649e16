#include "flash/tAttributeRegisterPort.h"

namespace nZELSMBUS000 {

namespace {
// A register offset beyond the attribute range has no attribute.
bool inRange(uint32_t offset) {
    return offset <= ZELSMBUS_ATTR_REGISTER_LAST - ZELSMBUS_ATTR_REGISTER_FIRST;
}
}  // namespace

void tAttributeRegisterPort::readRegister(uint32_t offset, uint32_t &value, tStatus &status) {
    if (status.isFatal()) return;
    if (!inRange(offset)) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return;
    }
    uint32_t read = 0;
    const int32_t result = ZELSMBusGetAttribute(handle_, ZELSMBUS_ATTR_REGISTER_FIRST + offset, &read);
    if (result < 0) {
        ZELSMBUS_SET_CODE(status, result);
        return;
    }
    value = read;
}

void tAttributeRegisterPort::writeRegister(uint32_t offset, uint32_t value, tStatus &status) {
    if (status.isFatal()) return;
    if (!inRange(offset)) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return;
    }
    const int32_t result =
        ZELSMBusSetAttribute(handle_, ZELSMBUS_ATTR_REGISTER_FIRST + offset, &value);
    if (result < 0) ZELSMBUS_SET_CODE(status, result);
}

tUnrestrictedSession::tUnrestrictedSession(tSMBusHandle *handle, tStatus &status) noexcept
    : handle_(handle) {
    if (status.isFatal()) return;
    int32_t result = ZELSMBusGetAttribute(handle_, ZELSMBUS_ATTR_UNRESTRICTED, &previous_);
    const uint32_t on = 1;
    if (result >= 0 && previous_ == 0)
        result = ZELSMBusSetAttribute(handle_, ZELSMBUS_ATTR_UNRESTRICTED, &on);
    if (result < 0) {
        ZELSMBUS_SET_CODE(status, result);
        return;
    }
    changed_ = previous_ == 0;
}

tUnrestrictedSession::~tUnrestrictedSession() {
    if (changed_) ZELSMBusSetAttribute(handle_, ZELSMBUS_ATTR_UNRESTRICTED, &previous_);
}

}  // namespace nZELSMBUS000
