#include "firmwareBackup.h"

#include <optional>
#include <vector>

#include <iostream>

#include "boardPinOut.h"
#include "confirm.h"
#include "failure.h"
#include "flashWriterLock.h"
#include "firmware/firmwareImageText.h"
#include "options.h"
#include "progress.h"

namespace zelsmbus_tool {

InstalledImage readInstalledImage(tSMBusHandle *handle, const std::string &resource,
                                  uint32_t pinOutAddress, uint32_t offset) {
    InstalledImage installed;
    uint16_t subsystem = 0;
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_SUBSYSTEM_ID, &subsystem),
          "cannot read the subsystem of " + resource);
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_FIRMWARE_VERSION, &installed.version),
          "cannot read the firmware version of " + resource);
    installed.subsystemId = subsystem;
    const std::string again = "check the connection to the board and run the command again";
    // One lock over the pin-out word and both readings: no other writer's
    // update can come between them.
    const FlashWriterLock held(handle, resource);
    const std::optional<BoardPinOut> board = readBoardPinOut(held, handle, pinOutAddress);
    if (!board) {
        throw ToolError("cannot read the flash of " + resource +
                            " (its registers do not answer, or its flash device is unknown)",
                        std::nullopt, again);
    }
    if (board->erased) {
        throw ToolError("the pin-out word of " + resource + " at flash address " +
                            nZELSMBUS000::hexNumber(pinOutAddress) + " reads erased",
                        ZELSMBUS_ERROR_PIN_OUT_ERASED,
                        "name the address the board keeps its pin-out word at with --pinout-addr "
                        "(the PinOutAddr of its firmware images)");
    }
    installed.flashId = board->flashId;
    installed.pinOutVersion = board->version;
    // Two readings of the same work: the second is shown against the time the
    // first took. Ctrl-C stops a reading at once; nothing is written before
    // both agree.
    const uint32_t size = firmwareRegionSize(board->flashId);
    std::cout << "Reading the firmware region of " << resource << " (" << size
              << " bytes), twice to compare: first reading..." << std::endl;
    Progress firstProgress("First reading", errorIsTerminal(), 0, size);
    const std::optional<std::vector<uint8_t>> first = readFirmwareRegion(held, handle, board->flashId, offset);
    const double firstSeconds = firstProgress.stop();
    std::optional<std::vector<uint8_t>> second;
    if (first) {
        std::cout << "Second reading..." << std::endl;
        Progress secondProgress("Second reading", errorIsTerminal(), firstSeconds, size);
        second = readFirmwareRegion(held, handle, board->flashId, offset);
    }
    if (!first || !second) {
        throw ToolError("cannot read the firmware region of " + resource, std::nullopt, again);
    }
    if (*first != *second) {
        throw ToolError("two readings of the firmware region of " + resource + " differ",
                        std::nullopt, again);
    }
    std::vector<uint8_t> bytes = *first;
    if (board->flashId == 0xBF8E) bytes.resize(bytes.size() - 2);  // the trailer an update writes
    size_t used = bytes.size();
    while (used > 1 && bytes[used - 1] == 0xFF) --used;  // an update fills the rest with 0xFF
    bytes.resize(used);
    if (bytes.size() == 1 && bytes[0] == 0xFF) {
        throw ToolError("the firmware region of " + resource + " reads erased: there is no firmware to save",
                        std::nullopt,
                        "if an update was cut short, run it again (zelsmbus firmware RESOURCE IMAGE)");
    }
    installed.byteCount = bytes.size();
    nZELSMBUS000::tFirmwareImageFields fields;
    fields.subsystemId = subsystem;
    fields.pinOutAddress = pinOutAddress;
    fields.pinOutVersion = board->version;
    fields.offset = board->flashId == 0xBF8E ? offset : 0;
    fields.version = installed.version;
    installed.text = nZELSMBUS000::formatFirmwareImage(fields, bytes.data(), bytes.size());
    return installed;
}

}  // namespace zelsmbus_tool
