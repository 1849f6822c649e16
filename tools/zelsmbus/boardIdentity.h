// The board a command works on, as the firmware command's files name and
// record it: by its PCI location and identity and its flash device, never by
// the name typed for it, which can reach another board after a renumbering.
#pragma once

#include <zelsmbus.h>

#include <cstdint>
#include <optional>
#include <string>

namespace zelsmbus_tool {

// The board a session reaches, as journals and backups record it.
struct BoardIdentity {
    std::string world;        // "hardware", or the simulated world's identity
    std::string pciLocation;  // "04:00.0"
    uint16_t vendorId = 0, deviceId = 0, subsystemVendorId = 0, subsystemId = 0;
    // 0: the flash did not name a device the library knows (a writer killed
    // in the middle may leave it answering all ones until it is brought to
    // rest).
    uint16_t flashId = 0;

    // The stem of this board's file names: "board-04.00.0-8086.1234.8086.7a51"
    // (the flash identifier is checked inside the files: a flash left busy by
    // a killed update does not identify itself).
    std::string fileStem() const;
    // The same board: the same world, PCI location and identity, and the same
    // flash device where both sides know it. With anySimulatedWorld, two
    // simulated worlds count as one (a simulated board's backup may go back
    // into another world's board of that make; never into the hardware's).
    bool matches(const BoardIdentity &other, bool anySimulatedWorld = false) const;
    // One line: "world=...;pci=...;ids=...;flash=..." (the form files carry).
    std::string text() const;
    static std::optional<BoardIdentity> fromText(const std::string &text);
    // For people: "PCI 04:00.0, ids 8086:1234 8086:7a51, flash 0x1010".
    std::string describe() const;
    bool operator==(const BoardIdentity &other) const { return text() == other.text(); }
    bool operator!=(const BoardIdentity &other) const { return !(*this == other); }
};

// Reads the board's identity: PCI attributes, and the flash identifier under
// the flash writer lock (which is let go again). Throws ToolError.
BoardIdentity identifyBoard(tSMBusHandle *handle, const std::string &resource);
// The same without the flash identifier (flashId 0), for a caller that holds
// the lock and knows the flash already.
BoardIdentity boardAttributes(tSMBusHandle *handle, const std::string &resource);

}  // namespace zelsmbus_tool
