// Opening and closing sessions.
#include <cctype>
#include <cstdint>

#include "api/backplane.h"
#include "api/controllerSet.h"
#include "api/tSMBusHandle.h"
#include "status/memory.h"
#include "zelsmbus.h"

using namespace nZELSMBUS000;

namespace {

bool equalsIgnoringAsciiCase(const char *left, const char *right) {
    for (;; ++left, ++right) {
        if (std::tolower(static_cast<unsigned char>(*left)) !=
            std::tolower(static_cast<unsigned char>(*right)))
            return false;
        if (*left == '\0') return true;
    }
}

// The first controller whose port text is the name, made a handle.
tSMBusHandle *openByPortString(const char *name, tControllerSet &set, tStatus &status) {
    for (auto it = set.begin(); it != set.end() && !status.isFatal(); ++it) {
        const char *text = nullptr;
        (*it)->getPortString(text, status);
        if (text == nullptr || !equalsIgnoringAsciiCase(text, name)) continue;
        tSMBusHandle *handle = makeHandle(*it, status);
        if (handle != nullptr) {
            set.erase(it);
            return handle;
        }
    }
    return nullptr;
}

tSMBusHandle *openByName(const char *name, tControllerSet &set, tStatus &status) {
    uint16_t device = 0, port = 0;
    tSMBusHandle *handle = nullptr;
    if (matchNumberedName(name, "zelsmbus::system", device, port)) {
        handle = selectNumberedController(set, isSystemController, device, port, status);
    } else if (matchNumberedName(name, "zelsmbus::remote", device, port)) {
        handle = selectNumberedController(set, isRemoteController, device, port, status);
    } else {
        handle = openByPortString(name, set, status);
    }
    if (handle != nullptr || status.isFatal()) return handle;

    int32_t chassisNumber = 0;
    if (isBackplaneName(name, chassisNumber))
        return openBackplaneController(chassisNumber, set, status);
    return nullptr;
}

// Closes the first `count` handles and frees the array.
void closeHandleArray(uint32_t count, tSMBusHandle **handles) noexcept {
    for (uint32_t i = 0; i < count; ++i) destroyHandle(handles[i]);
    release(handles);
}

}  // namespace

extern "C" {

int32_t ZELSMBusOpen(const char *resourceName, tSMBusHandle **handle) {
    tStatus status;
    if (resourceName == nullptr || handle == nullptr) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return status.result();
    }
    tControllerSet set;
    tSMBusHandle *opened = nullptr;
    try {
        discoverControllers(set, status);
        if (!status.isFatal()) opened = openByName(resourceName, set, status);
    } catch (...) {
        // Only the chassis lookup can throw (memory); nothing may leave the export.
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_OUT_OF_MEMORY);
    }
    destroyControllers(set);

    if (status.isFatal()) {
        destroyHandle(opened);
        return status.result();
    }
    if (opened == nullptr) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_FOUND);
        return status.result();
    }
    *handle = opened;
    return status.result();
}

tSMBusHandle **ZELSMBusOpenListEx(void *, uint32_t *count, int32_t *status) {
    if (status == nullptr || *status < 0) return nullptr;
    if (count == nullptr) {
        *status = ZELSMBUS_ERROR_INVALID_PARAMETER;
        return nullptr;
    }

    tStatus callStatus;
    tControllerSet set;
    discoverControllers(set, callStatus);
    if (callStatus.isFatal()) {
        *status = callStatus.result();
        return nullptr;
    }

    auto *handles =
        static_cast<tSMBusHandle **>(allocate(set.size() * sizeof(tSMBusHandle *), callStatus));
    uint32_t made = 0;
    if (handles != nullptr) {
        while (!set.empty()) {
            tSMBusHandle *handle = makeHandle(*set.begin(), callStatus);
            if (handle == nullptr) break;
            handles[made++] = handle;
            set.erase(set.begin());
        }
    }
    if (callStatus.isFatal()) {
        if (handles != nullptr) closeHandleArray(made, handles);
        destroyControllers(set);
        *status = callStatus.result();
        return nullptr;
    }
    *count = made;
    return handles;
}

tSMBusHandle **ZELSMBusOpenList(uint32_t *count, int32_t *status) {
    return ZELSMBusOpenListEx(nullptr, count, status);
}

int32_t ZELSMBusClose(tSMBusHandle *handle) {
    destroyHandle(handle);
    return 0;
}

void ZELSMBusCloseList(uint32_t count, tSMBusHandle **handles) {
    if (handles == nullptr) return;
    closeHandleArray(count, handles);
}

}  // extern "C"
