// Simulated worlds for the listing and backplane tests, and the stand-in
// chassis-query library loaded by path.
#pragma once

#include <dlfcn.h>

#include <string>

namespace names_test {

// One controller device with `ports` ports (texts PREFIX0, PREFIX1, ...).
inline std::string device(unsigned vendor, unsigned subsystem, unsigned bus, unsigned ports,
                          const std::string &portPrefix, const std::string &portExtra = "") {
    std::string text = "[[device]]\nvendor_id = " + std::to_string(vendor) +
                       "\ndevice_id = 0x1234\nsubsystem_vendor_id = " + std::to_string(vendor) +
                       "\nsubsystem_id = " + std::to_string(subsystem) +
                       "\nbus = " + std::to_string(bus) +
                       "\ndevice = 0\nfunction = 0\ndevice_string = \"test device\"\n";
    for (unsigned p = 0; p < ports; ++p) {
        text += "  [[device.port]]\n  text = \"" + portPrefix + std::to_string(p) +
                "\"\n  protected = [0x10]\n" + portExtra;
    }
    return text + "\n";
}

inline std::string chassis(unsigned number, const std::string &slot1,
                           const std::string &model = "Model", const std::string &vendor = "Vendor",
                           const std::string &serial = "Serial") {
    return "[[chassis]]\nnumber = " + std::to_string(number) + "\nmodel = \"" + model +
           "\"\nvendor = \"" + vendor + "\"\nserial = \"" + serial + "\"\nslot1 = \"" + slot1 +
           "\"\n\n";
}

constexpr unsigned kSystemVendor = 0x8086;
constexpr unsigned kRemoteVendor = 0x1E2D;

// Keeps the stand-in chassis-query library loaded while it lives.
class tStandIn {
public:
    tStandIn() {
#ifdef ZELQPXI_STAND_IN
        handle_ = dlopen(ZELQPXI_STAND_IN, RTLD_NOW | RTLD_GLOBAL);
#endif
    }
    ~tStandIn() {
        if (handle_ != nullptr) dlclose(handle_);
    }
    tStandIn(const tStandIn &) = delete;
    tStandIn &operator=(const tStandIn &) = delete;

    bool loaded() const { return handle_ != nullptr; }
    template <typename Function>
    Function function(const char *name) const {
        return reinterpret_cast<Function>(dlsym(handle_, name));
    }

private:
    void *handle_ = nullptr;
};

}  // namespace names_test
