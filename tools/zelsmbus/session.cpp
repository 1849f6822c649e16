#include "session.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iostream>

#include "driverPresence.h"
#include "failure.h"
#include "options.h"
#include "statusText.h"

namespace zelsmbus_tool {

namespace {

constexpr const char *kListHint = "'zelsmbus list' shows the resource names of this system";

bool equalsIgnoreCase(const std::string &a, const char *b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
    }
    return true;
}

// The chassis number of a backplane name (PXI0::1::BACKPLANE), as text; empty
// for any other name.
std::string backplaneChassis(const std::string &resource) {
    std::vector<std::string> parts;
    for (size_t start = 0; start < resource.size();) {
        const size_t end = resource.find("::", start);
        parts.push_back(resource.substr(start, end - start));
        start = end == std::string::npos ? resource.size() : end + 2;
    }
    if (parts.size() != 3 || parts[0].size() < 3 ||
        !equalsIgnoreCase(parts[0].substr(0, 3), "pxi") ||
        !equalsIgnoreCase(parts[2], "backplane")) {
        return {};
    }
    return parts[1];
}

// Opening a backplane name asks the chassis-query library for the chassis's
// identity, then looks for the port whose chassis EEPROM carries it: say which
// of the two failed, since the chassis-query library's codes have no names here.
[[noreturn]] void failBackplaneOpen(const std::string &resource, const std::string &chassis,
                                    int32_t status) {
    const std::string what = "cannot open " + resource;
    if (status == ZELSMBUS_ERROR_NOT_FOUND) {
        throw ToolError(
            what + ": no port's chassis EEPROM carries the identity of chassis " + chassis, status,
            kListHint);
    }
    if (status == ZELSMBUS_ERROR_INVALID_PARAMETER) {
        throw ToolError(what + ": the chassis-query library (libzelqpxi.so.1) could not be loaded",
                        status);
    }
    if (!describeStatus(status).name) {
        throw ToolError(what +
                            ": the chassis-query library could not give the identity of "
                            "chassis " +
                            chassis,
                        status, "'zelsmbus list' shows the backplane names of the known chassis");
    }
    throw ToolError(what, status);
}

}  // namespace

Session::Session(const std::string &resource, bool unrestricted) : resource_(resource) {
    const int32_t opened = ZELSMBusOpen(resource.c_str(), &handle_);
    if (opened == ZELSMBUS_ERROR_NOT_FOUND || opened == ZELSMBUS_ERROR_INVALID_PARAMETER) {
        // No name opens without a driver: say so rather than blame the name.
        const DriverPresence presence = probeDriverPresence();
        if (presence.noDriver()) {
            throw ToolError("cannot open " + resource + ": " + missingDriverText(presence), opened,
                            simulatorHint(presence, commonOptions().commandLine));
        }
    }
    const std::string chassis = backplaneChassis(resource);
    if (opened < 0 && !chassis.empty()) failBackplaneOpen(resource, chassis, opened);
    if (opened == ZELSMBUS_ERROR_NOT_FOUND || opened == ZELSMBUS_ERROR_INVALID_PARAMETER) {
        throw ToolError("cannot open " + resource + ": no resource has that name", opened,
                        kListHint);
    }
    check(opened, "cannot open " + resource);
    if (unrestricted) {
        const uint32_t on = 1;
        const int32_t status = ZELSMBusSetAttribute(handle_, ZELSMBUS_ATTR_UNRESTRICTED, &on);
        if (status < 0) {
            ZELSMBusClose(handle_);
            throw ToolError("cannot make the session on " + resource + " unrestricted", status);
        }
        unrestricted_ = true;
        std::cerr << "zelsmbus: note: unrestricted session on " << resource
                  << ": protected addresses are reachable\n";
    }
}

Session::~Session() { ZELSMBusClose(handle_); }

std::vector<uint8_t> Session::protectedAddresses() const {
    uint8_t count = 0;
    uint64_t list = 0;
    check(ZELSMBusGetAttribute(handle_, ZELSMBUS_ATTR_PROTECTED_COUNT, &count),
          "cannot read the protected addresses of " + resource_);
    check(ZELSMBusGetAttribute(handle_, ZELSMBUS_ATTR_PROTECTED_LIST, &list),
          "cannot read the protected addresses of " + resource_);
    std::vector<uint8_t> addresses;
    // The list lives in the session's controller until the session closes.
    const auto *wire = reinterpret_cast<const uint8_t *>(static_cast<uintptr_t>(list));
    for (unsigned i = 0; wire && i < count; ++i) {
        const uint8_t address7 = wire[i] >> 1;
        if (std::find(addresses.begin(), addresses.end(), address7) == addresses.end()) {
            addresses.push_back(address7);
        }
    }
    std::sort(addresses.begin(), addresses.end());
    return addresses;
}

bool Session::refuses(uint8_t address7) const {
    if (unrestricted_) return false;
    const std::vector<uint8_t> list = protectedAddresses();
    return std::find(list.begin(), list.end(), address7) != list.end();
}

std::string Session::text(uint32_t attribute) const {
    uint64_t address = 0;
    const int32_t status = ZELSMBusGetAttribute(handle_, attribute, &address);
    // A driver that gives no device text has the library answer "not
    // supported" for it: the text is empty, not a failure of the port.
    if (status == ZELSMBUS_ERROR_NOT_SUPPORTED && attribute == ZELSMBUS_ATTR_DEVICE_STRING) return {};
    check(status, "cannot read attribute " + std::to_string(attribute) + " of " + resource_);
    const char *text = reinterpret_cast<const char *>(static_cast<uintptr_t>(address));
    return text ? std::string(text) : std::string();
}

}  // namespace zelsmbus_tool
