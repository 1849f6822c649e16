// The controller's flash writer lock, held by the tool's own flash reads and
// writes (the pin-out word, the firmware region, a pin-out word put back).
//
// The library takes the lock with flock() on the controller's driver node
// inside every flash procedure it runs. The tool reaches the flash through
// register attributes instead, so it finds the session's driver node by the
// controller's PCI identity and location, opens it once more and takes the
// same lock on that descriptor. flock() locks of two open descriptions
// exclude each other also within one process: the tool must let go of its
// lock before it calls ZELSMBusWriteFirmware or sets attribute 1006, or that
// call answers busy.
#pragma once

#include <zelsmbus.h>

#include <memory>
#include <string>

namespace zelsmbus_tool {

class FlashWriterLock {
public:
    // Waits as the library does (about 2 s) for another holder; throws
    // ToolError with the next step when the lock cannot be had.
    FlashWriterLock(tSMBusHandle *handle, const std::string &resource);
    ~FlashWriterLock();
    FlashWriterLock(const FlashWriterLock &) = delete;
    FlashWriterLock &operator=(const FlashWriterLock &) = delete;

private:
    struct Node;
    std::unique_ptr<Node> node_;
};

}  // namespace zelsmbus_tool
