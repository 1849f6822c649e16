// A controller that answers nothing: every operation leaves its outputs and
// the status as they are and reports itself to unanswered(). Test doubles
// derive from it and override only the operations they use; a double that
// must notice any other call overrides unanswered().
#pragma once

#include <cstdint>

#include "controller/iSMBusController.h"

namespace controllertest {

using nZELSMBUS000::tBlockData;
using nZELSMBUS000::tI2CData;
using nZELSMBUS000::tStatus;

class tNullController : public nZELSMBUS000::iSMBusController {
public:
    // Every operation the double does not override ends here, named.
    virtual void unanswered(const char *operation, tStatus &status) {
        (void)operation;
        (void)status;
    }

    void getPciIds(uint16_t &, uint16_t &, uint16_t &, uint16_t &, tStatus &status) override {
        unanswered("getPciIds", status);
    }
    void getPciLocation(uint16_t &, uint16_t &, uint16_t &, uint16_t &, tStatus &status) override {
        unanswered("getPciLocation", status);
    }
    void getDeviceString(const char *&, tStatus &status) override {
        unanswered("getDeviceString", status);
    }
    void getPortFlags(uint8_t &, uint8_t &, tStatus &status) override {
        unanswered("getPortFlags", status);
    }
    void getPortString(const char *&, tStatus &status) override {
        unanswered("getPortString", status);
    }
    void getProtectedAddresses(uint8_t &, const uint8_t *&, tStatus &status) override {
        unanswered("getProtectedAddresses", status);
    }
    void writeBlock(uint8_t, uint8_t, uint8_t, uint8_t, const tBlockData &,
                    tStatus &status) override {
        unanswered("writeBlock", status);
    }
    void blockProcessCall(uint8_t, uint8_t, uint8_t, uint8_t, uint8_t &, const tBlockData &,
                          tBlockData &, tStatus &status) override {
        unanswered("blockProcessCall", status);
    }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define ZELSMBUS_NULL_FORWARDER_(method, row, scope, controller, parameters, arguments) \
    ZELSMBUS_WHEN_FORWARDED(                                                            \
        controller, void method parameters override { unanswered(#method, status); })
    ZELSMBUS_DRIVER_COMMANDS(ZELSMBUS_NULL_FORWARDER_)
#undef ZELSMBUS_NULL_FORWARDER_
#pragma GCC diagnostic pop
};

}  // namespace controllertest
