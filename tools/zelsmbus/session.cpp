#include "session.h"

#include <algorithm>
#include <iostream>

#include "failure.h"

namespace zelsmbus_tool {

Session::Session(const std::string &resource, bool unrestricted) : resource_(resource) {
    check(ZELSMBusOpen(resource.c_str(), &handle_), "cannot open " + resource);
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
    check(ZELSMBusGetAttribute(handle_, attribute, &address),
          "cannot read attribute " + std::to_string(attribute) + " of " + resource_);
    const char *text = reinterpret_cast<const char *>(static_cast<uintptr_t>(address));
    return text ? std::string(text) : std::string();
}

}  // namespace zelsmbus_tool
