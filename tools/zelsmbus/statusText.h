// Names and meanings of the library's status codes, taken from the table in zelsmbus.h.
#pragma once

#include <cstdint>
#include <string>

namespace zelsmbus_tool {

struct StatusText {
    const char *name;     // e.g. ZELSMBUS_ERROR_NOT_FOUND, or nullptr for an unknown code
    const char *meaning;  // one line
};

StatusText describeStatus(int32_t code);

// "-52006 ZELSMBUS_ERROR_NOT_FOUND: no such resource, controller or handle"
std::string formatStatus(int32_t code);

// How a failed transaction counts in a scan (detect, dump): "no acknowledgement"
// means nothing answered at the address; any other failure (the bus lock held by
// another program, a refused address, a timeout) means the tool could not look.
bool isNoAcknowledgement(int32_t code);

// Keeps a scan from waiting out the bus-lock timeout at every address: once one
// transaction answers busy, the rest of the scan is not tried and counts as
// busy too.
class ScanBudget {
public:
    // The status of the next transaction: the one that ran, or busy once the
    // bus was found busy (call() not made).
    template <typename Call>
    int32_t run(Call call) {
        if (busy_) return busyCode();
        const int32_t status = call();
        busy_ = status == busyCode();
        return status;
    }

private:
    static int32_t busyCode();
    bool busy_ = false;
};

}  // namespace zelsmbus_tool
