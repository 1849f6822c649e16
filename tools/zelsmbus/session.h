// One open session on a resource, closed when it goes out of scope.
#pragma once

#include <zelsmbus.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zelsmbus_tool {

class Session {
public:
    // Opens the resource; with unrestricted, also sets attribute 1001 and tells the user.
    Session(const std::string &resource, bool unrestricted);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    tSMBusHandle *handle() const { return handle_; }
    const std::string &resource() const { return resource_; }
    bool unrestricted() const { return unrestricted_; }

    // The port's protected addresses, 7-bit, as the driver and controller list them.
    std::vector<uint8_t> protectedAddresses() const;
    // True when a transaction to the address would be refused on this session.
    bool refuses(uint8_t address7) const;

    std::string text(uint32_t attribute) const;  // attributes 301 and 302

private:
    std::string resource_;
    tSMBusHandle *handle_ = nullptr;
    bool unrestricted_ = false;
};

}  // namespace zelsmbus_tool
