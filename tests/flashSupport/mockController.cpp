#include "mockController.h"

#include "zelsmbus.h"

namespace flashtest {

namespace {
zelsim::FlashSetup setupFor(uint16_t flashId, uint32_t version) {
    zelsim::FlashSetup setup;
    setup.flashId = flashId;
    setup.firmwareVersion = version;
    return setup;
}
}  // namespace

tMockController::tMockController() = default;
tMockController::~tMockController() = default;

tFlashController::tFlashController(uint16_t flashId, uint32_t version, uint16_t subsystem)
    : model(setupFor(flashId, version), [] { return gClockNs; }) {
    using ::testing::_;
    ON_CALL(*this, readRegister(_, _, _))
        .WillByDefault([this](uint32_t offset, uint32_t &value, tStatus &status) {
            if (status.isFatal()) return;
            if (failRequests) {
                ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_IO);
                return;
            }
            uint32_t result = 0;
            model.read(offset, result);
            value = result;
            if (logging) log.push_back({false, offset, result});
        });
    ON_CALL(*this, writeRegister(_, _, _))
        .WillByDefault([this](uint32_t offset, uint32_t value, tStatus &status) {
            if (status.isFatal()) return;
            if (failRequests) {
                ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_IO);
                return;
            }
            model.write(offset, value);
            if (onWrite) onWrite(offset, value);
            if (logging) log.push_back({true, offset, value});
        });
    ON_CALL(*this, getPciIds(_, _, _, _, _))
        .WillByDefault(
            [subsystem](uint16_t &v, uint16_t &d, uint16_t &sv, uint16_t &s, tStatus &st) {
                if (st.isFatal()) return;
                v = 0x10EE;
                d = 0x7011;
                sv = 0x10EE;
                s = subsystem;
            });
}

tFlashController::~tFlashController() = default;

}  // namespace flashtest
