// The register port of a session opened through the public interface: each
// register access is one ZELSMBusGetAttribute/ZELSMBusSetAttribute on the
// register attribute range. For programs that link the flash library beside
// libzelsmbus (the command-line tool); the library itself never uses it.
//
// Register attributes need an unrestricted session: hold a
// tUnrestrictedSession for as long as the port is used.
#pragma once

#include <zelsmbus.h>

#include "flash/iRegisterPort.h"

namespace nZELSMBUS000 {

class tAttributeRegisterPort final : public iRegisterPort {
public:
    explicit tAttributeRegisterPort(tSMBusHandle *handle) noexcept : handle_(handle) {}
    // A failed access sets the export's code in the status.
    void readRegister(uint32_t offset, uint32_t &value, tStatus &status) override;
    void writeRegister(uint32_t offset, uint32_t value, tStatus &status) override;

private:
    tSMBusHandle *handle_;
};

// Makes the session unrestricted for the scope's lifetime and puts the
// earlier setting back when it ends.
class tUnrestrictedSession {
public:
    tUnrestrictedSession(tSMBusHandle *handle, tStatus &status) noexcept;
    ~tUnrestrictedSession();
    tUnrestrictedSession(const tUnrestrictedSession &) = delete;
    tUnrestrictedSession &operator=(const tUnrestrictedSession &) = delete;

private:
    tSMBusHandle *handle_;
    uint32_t previous_ = 0;
    bool changed_ = false;
};

}  // namespace nZELSMBUS000
