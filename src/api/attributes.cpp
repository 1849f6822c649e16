// ZELSMBusGetAttribute and ZELSMBusSetAttribute.
#include <cstring>
#include <new>

#include "api/attributeTable.h"
#include "zelsmbus.h"

using namespace nZELSMBUS000;

namespace {

void storeValue(uint64_t value, uint8_t width, void *destination) {
    switch (width) {
        case 1: {
            const uint8_t v = uint8_t(value);
            std::memcpy(destination, &v, 1);
            break;
        }
        case 2: {
            const uint16_t v = uint16_t(value);
            std::memcpy(destination, &v, 2);
            break;
        }
        case 4: {
            const uint32_t v = uint32_t(value);
            std::memcpy(destination, &v, 4);
            break;
        }
        default:
            std::memcpy(destination, &value, 8);
            break;
    }
}

uint64_t loadValue(uint8_t width, const void *source) {
    switch (width) {
        case 1: {
            uint8_t v;
            std::memcpy(&v, source, 1);
            return v;
        }
        case 2: {
            uint16_t v;
            std::memcpy(&v, source, 2);
            return v;
        }
        case 4: {
            uint32_t v;
            std::memcpy(&v, source, 4);
            return v;
        }
        default: {
            uint64_t v;
            std::memcpy(&v, source, 8);
            return v;
        }
    }
}

bool isRegister(uint32_t attribute) {
    return attribute >= kRegisterAttributeFirst && attribute <= kRegisterAttributeLast;
}

// The steps both exports share: handle, value pointer, access. Returns the
// table entry to use, or null when the call ends here (status says why, or
// the identifier is a register and registerAccess is true).
const tAttribute *checkCall(tSMBusHandle *handle, uint32_t attribute, const void *value,
                            bool setting, bool &registerAccess, tStatus &status) {
    registerAccess = false;
    if (handle == nullptr) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_FOUND);
        return nullptr;
    }
    if (value == nullptr) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (isRegister(attribute)) {
        if (!handle->unrestricted)
            ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_PROTECTED);
        else
            registerAccess = true;
        return nullptr;
    }
    const tAttribute *entry = findAttribute(attribute);
    if (entry == nullptr || (setting && entry->use->access == tAttributeAccess::readOnly)) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (entry->use->session == tAttributeSession::unrestricted && !handle->unrestricted) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_PROTECTED);
        return nullptr;
    }
    return entry;
}

}  // namespace

extern "C" int32_t ZELSMBusGetAttribute(tSMBusHandle *handle, uint32_t attribute, void *value) {
    tStatus status;
    try {
        bool registerAccess = false;
        const tAttribute *entry =
            checkCall(handle, attribute, value, false, registerAccess, status);
        if (registerAccess) {
            uint32_t result = 0;
            handle->controller->readRegister(attribute - kRegisterAttributeFirst, result, status);
            if (!status.isFatal()) storeValue(result, 4, value);
        } else if (entry != nullptr) {
            const uint64_t result = entry->get(*handle, status);
            if (!status.isFatal()) storeValue(result, entry->use->width, value);
        }
    } catch (const std::bad_alloc &) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_OUT_OF_MEMORY);
    } catch (...) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_OS);
    }
    return status.result();
}

extern "C" int32_t ZELSMBusSetAttribute(tSMBusHandle *handle, uint32_t attribute,
                                        const void *value) {
    tStatus status;
    try {
        bool registerAccess = false;
        const tAttribute *entry = checkCall(handle, attribute, value, true, registerAccess, status);
        if (registerAccess) {
            handle->controller->writeRegister(attribute - kRegisterAttributeFirst,
                                              uint32_t(loadValue(4, value)), status);
        } else if (entry != nullptr) {
            entry->set(*handle, loadValue(entry->use->width, value), status);
        }
    } catch (const std::bad_alloc &) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_OUT_OF_MEMORY);
    } catch (...) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_OS);
    }
    return status.result();
}
