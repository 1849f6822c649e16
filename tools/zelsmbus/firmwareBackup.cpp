#include "firmwareBackup.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <vector>

#include "boardPinOut.h"
#include "confirm.h"
#include "failure.h"
#include "firmwareImage.h"
#include "firmwareJournal.h"
#include "flash/firmwareImageText.h"
#include "flashWriterLock.h"
#include "options.h"
#include "progress.h"

namespace zelsmbus_tool {
namespace {

// The record of the image last installed on a board: the board (as a
// journal names it) and what a reading of its region gives back.
struct InstalledRecord {
    FirmwareJournal board;
    uint32_t version = 0;
    size_t length = 0;
    uint32_t crc = 0;
    double seconds = 0;  // how long the update took
};

std::optional<InstalledRecord> readRecord(const std::string &path) {
    std::ifstream file(path);
    if (!file) return std::nullopt;
    InstalledRecord record;
    bool complete = false;
    std::string line;
    while (std::getline(file, line)) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
        const unsigned long number = std::strtoul(value.c_str(), nullptr, 0);
        if (key == "pci") record.board.pciLocation = value;
        else if (key == "world") record.board.world = value;
        else if (key == "subsystem") record.board.subsystemId = uint32_t(number);
        else if (key == "flash") record.board.flashId = uint16_t(number);
        else if (key == "version") record.version = uint32_t(number), complete = true;
        else if (key == "length") record.length = size_t(number);
        else if (key == "crc") record.crc = uint32_t(number);
        else if (key == "seconds") record.seconds = std::strtod(value.c_str(), nullptr);
    }
    if (!complete) return std::nullopt;
    return record;
}

bool sameBoard(const FirmwareJournal &a, const FirmwareJournal &b) {
    return a.pciLocation == b.pciLocation && a.world == b.world && a.subsystemId == b.subsystemId &&
           a.flashId == b.flashId;
}

std::string showVersion(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

}  // namespace

void rememberInstalledImage(tSMBusHandle *handle, const std::string &resource,
                            const FirmwareCheck &image, uint16_t flashId, double seconds) {
    // The update is done whatever happens here: a record that cannot be
    // written only costs a later reading the image's version.
    try {
        FirmwareJournal board;
        board.flashId = flashId;
        recordBoard(board, handle, resource, image.header.pinOutAddress);
        char text[512];
        std::snprintf(text, sizeof text,
                      "# zelsmbus: the firmware image last installed on this board\n"
                      "pci=%s\nworld=%s\nsubsystem=0x%04x\nflash=0x%04x\n"
                      "version=0x%08x\nlength=%zu\ncrc=0x%08x\nseconds=%.1f\n",
                      board.pciLocation.c_str(), board.world.c_str(), board.subsystemId,
                      board.flashId, image.header.version, image.installedLength,
                      image.installedCrc, seconds);
        writeFileAtomically(installedRecordPath(resource), text);
    } catch (const ToolError &error) {
        std::cerr << "zelsmbus: warning: the installed image is not recorded: " << error.what()
                  << '\n';
    }
}

double lastUpdateSeconds(const std::string &resource, uint16_t flashId) {
    const std::optional<InstalledRecord> record = readRecord(installedRecordPath(resource));
    return record && record->board.flashId == flashId ? record->seconds : 0;
}

std::string versionOrigin(const InstalledImage &image) {
    if (image.versionOfImage) {
        return "the version of the image zelsmbus installed, whose bytes the flash holds";
    }
    return "the version the controller reports running (" + showVersion(image.running) +
           "); an image installed since the board started may differ";
}

InstalledImage readInstalledImage(tSMBusHandle *handle, const std::string &resource,
                                  uint32_t pinOutAddress, uint32_t offset) {
    InstalledImage installed;
    uint16_t subsystem = 0;
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_SUBSYSTEM_ID, &subsystem),
          "cannot read the subsystem of " + resource);
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_FIRMWARE_VERSION, &installed.running),
          "cannot read the firmware version of " + resource);
    installed.version = installed.running;
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
    // The bytes of the image zelsmbus last installed on this very board carry
    // that image's version; any other reading only the running one.
    const std::optional<InstalledRecord> record = readRecord(installedRecordPath(resource));
    if (record && record->length == bytes.size() &&
        record->crc == firmwareCrc(bytes.data(), bytes.size())) {
        FirmwareJournal here;
        here.flashId = board->flashId;
        recordBoard(here, handle, resource, pinOutAddress);
        if (sameBoard(record->board, here)) {
            installed.version = record->version;
            installed.versionOfImage = true;
        }
    }
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
