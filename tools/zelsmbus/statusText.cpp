#include "statusText.h"

#include <zelsmbus.h>

#include <cstdio>
#include <iostream>

#include "failure.h"

namespace zelsmbus_tool {
namespace {

struct StatusRow {
    int32_t code;
    StatusText text;
};

#define ZELSMBUS_TOOL_STATUS_ROW_(name, value, meaning) {value, {#name, meaning}},
constexpr StatusRow kStatusRows[] = {ZELSMBUS_STATUS_CODES(ZELSMBUS_TOOL_STATUS_ROW_)};
#undef ZELSMBUS_TOOL_STATUS_ROW_

}  // namespace

StatusText describeStatus(int32_t code) {
    for (const StatusRow &row : kStatusRows) {
        if (row.code == code) return row.text;
    }
    // The driver's own status words and the chassis-query library's codes pass
    // through the library unchanged.
    if (code < 0) return {nullptr, "error reported by the driver or the chassis-query library"};
    return {nullptr, "warning reported by the driver or the chassis-query library"};
}

std::string formatStatus(int32_t code) {
    const StatusText text = describeStatus(code);
    std::string out = std::to_string(code);
    if (text.name) {
        out += ' ';
        out += text.name;
    } else {
        char hex[16];
        std::snprintf(hex, sizeof hex, " (0x%08x)", static_cast<uint32_t>(code));
        out += hex;
    }
    out += ": ";
    out += text.meaning;
    return out;
}

bool isNoAcknowledgement(int32_t code) { return code == ZELSMBUS_ERROR_IO; }

int32_t ScanBudget::busyCode() { return ZELSMBUS_ERROR_BUSY; }

void check(int32_t status, const std::string &what) {
    if (status == ZELSMBUS_ERROR_BUSY) {
        throw ToolError(what + ": another program holds the bus lock", status,
                        "try again when it has finished: the lock is free once that program "
                        "unlocks the bus, closes its session or ends");
    }
    if (status == ZELSMBUS_ERROR_ACCESS_DENIED) {
        throw ToolError(what, status,
                        "the driver's nodes under /proc/driver/zel/ are not open to this user: "
                        "run as root, or ask the administrator for access to them");
    }
    if (status < 0) throw ToolError(what, status);
    // 50254 is how an I2C transfer or block process call reports success; any
    // other warning is worth a line, but the operation did its work.
    if (status > 0 && status != ZELSMBUS_WARNING_TRANSFER_DONE) {
        std::cerr << "zelsmbus: warning: " << formatStatus(status) << '\n';
    }
}

void checkTransfer(int32_t status, const std::string &what, const char *protectedHint) {
    if (status == ZELSMBUS_ERROR_PROTECTED) {
        throw ToolError(what, status, protectedHint);
    }
    if (isNoAcknowledgement(status)) {
        throw ToolError(what + ": no device acknowledged the address or this transaction", status,
                        "check the address and the mode: 'zelsmbus detect RESOURCE' shows the "
                        "addresses that answer");
    }
    check(status, what);
}

}  // namespace zelsmbus_tool
