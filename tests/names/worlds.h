// Simulated worlds for the listing and backplane tests, and the stand-in
// chassis-query library.
#pragma once

#include <string>

#include "chassisStandIn.h"

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

// The stand-in chassis-query library, loaded while a tStandIn lives.
using tStandIn = chassis_test::tChassisStandIn::tScope;
using tChassisQuery = chassis_test::tChassisStandIn;

}  // namespace names_test
