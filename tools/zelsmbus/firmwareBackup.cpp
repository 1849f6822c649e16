#include "firmwareBackup.h"

#include <limits.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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
#include "flash/firmwareChecksums.h"
#include "flash/flashChips.h"
#include "flash/firmwareImageText.h"
#include "flashWriterLock.h"
#include "options.h"
#include "progress.h"

namespace zelsmbus_tool {
namespace {

// The record of the image last installed on a board: the board and what a
// reading of its region gives back.
struct InstalledRecord {
    std::string board;  // BoardIdentity::text()
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
        if (key == "board") record.board = value;
        else if (key == "version") record.version = uint32_t(number), complete = true;
        else if (key == "length") record.length = size_t(number);
        else if (key == "crc") record.crc = uint32_t(number);
        else if (key == "seconds") record.seconds = std::strtod(value.c_str(), nullptr);
    }
    if (!complete || record.board.empty()) return std::nullopt;
    return record;
}

std::string showVersion(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

}  // namespace

std::string withBoard(const std::string &image, const BoardIdentity &board) {
    const size_t end = image.find("\r\n\r\n");
    if (end == std::string::npos) return image;
    return image.substr(0, end) + "\r\nBoard::" + board.text() + "\r\nSaved::" + localTimeNow() +
           image.substr(end);
}

void rememberInstalledImage(const BoardIdentity &board, const FirmwareCheck &image,
                            double seconds) {
    // The update is done whatever happens here: a record that cannot be
    // written only costs a later reading the image's version.
    try {
        char text[512];
        std::snprintf(text, sizeof text,
                      "# zelsmbus: the firmware image last installed on this board\n"
                      "board=%s\nversion=0x%08x\nlength=%zu\ncrc=0x%08x\nseconds=%.1f\n",
                      board.text().c_str(), image.header.version, image.installedLength,
                      image.installedCrc, seconds);
        writeFileAtomically(installedRecordPath(board), text);
    } catch (const ToolError &error) {
        std::cerr << "zelsmbus: warning: the installed image is not recorded: " << error.what()
                  << '\n';
    }
}

double lastUpdateSeconds(const BoardIdentity &board) {
    try {
        // The record is this board's by its name; in a simulated world inside
        // a process the world differs every time, the device does not.
        const std::optional<InstalledRecord> record = readRecord(installedRecordPath(board));
        const std::optional<BoardIdentity> then =
            record ? BoardIdentity::fromText(record->board) : std::nullopt;
        return then && then->flashId == board.flashId ? record->seconds : 0;
    } catch (const ToolError &) {
        return 0;
    }
}

std::optional<BoardIdentity> imageBoard(const std::string &image) {
    const size_t headerEnd = image.find("\r\n\r\n");
    const size_t at = image.find("\r\nBoard::");
    if (at == std::string::npos || headerEnd == std::string::npos || at >= headerEnd)
        return std::nullopt;
    const size_t start = at + 9;
    return BoardIdentity::fromText(image.substr(start, image.find("\r\n", start) - start));
}

void saveBackupFile(const std::string &path, const std::string &text) {
    const std::optional<bool> regular = isRegularFile(path);
    if (regular && !*regular) {
        throw ToolError("the backup " + path + " would not be a file (it names a device, a FIFO, "
                        "a folder or a link to nothing)",
                        std::nullopt, "name a file with --backup, or update with --no-backup");
    }
    if (regular) {
        std::ifstream file(path, std::ios::binary);
        std::ostringstream old;
        old << file.rdbuf();
        // The same firmware of the same board: only the time of reading differs.
        auto withoutTime = [](const std::string &image) {
            const size_t at = image.find("\r\nSaved::");
            return at == std::string::npos ? image
                                           : image.substr(0, at) + image.substr(image.find("\r\n", at + 2));
        };
        if (file && withoutTime(old.str()) == withoutTime(text)) return;
        // The name's file is the one kept: through a link, the file it names.
        char resolved[PATH_MAX];
        const std::string target = realpath(path.c_str(), resolved) != nullptr ? resolved : path;
        const std::string previous = target + ".previous";
        if (rename(target.c_str(), previous.c_str()) != 0) {
            throw ToolError("cannot keep the earlier backup " + path + " as " + previous + ": " +
                            std::strerror(errno));
        }
        std::cout << "The earlier backup is kept as " << previous << ".\n";
        writeFileAtomically(target, text);
        return;
    }
    writeFileAtomically(path, text);
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
    installed.board = boardAttributes(handle, resource);
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
    installed.board.flashId = board->flashId;
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
    const nZELSMBUS000::tFlashChip *device = nZELSMBUS000::findFlashChip(board->flashId);
    if (device != nullptr && device->trailerBytes != 0) {
        // The CRC-16 trailer an update writes last, over everything before it.
        const size_t body = bytes.size() - device->trailerBytes;
        const uint16_t trailer = nZELSMBUS000::regionCrc16(bytes.data(), body);
        if (bytes[body] != uint8_t(trailer >> 8) || bytes[body + 1] != uint8_t(trailer))
            installed.notVerified = "its CRC-16 trailer does not match the region";
        bytes.resize(body);
    } else if (device != nullptr && device->activation && !bootHeaderIntact(held, handle)) {
        installed.notVerified = "the boot header that starts it is missing";
    }
    size_t used = bytes.size();
    while (used > 1 && bytes[used - 1] == 0xFF) --used;  // an update fills the rest with 0xFF
    bytes.resize(used);
    if (bytes.size() == 1 && bytes[0] == 0xFF) {
        throw ToolError("the firmware region of " + resource + " reads erased: there is no firmware to save",
                        std::nullopt,
                        "if an update was cut short, run it again (zelsmbus firmware RESOURCE IMAGE)");
    }
    installed.byteCount = bytes.size();
    installed.crc = firmwareCrc(bytes.data(), bytes.size());
    // The bytes of the image zelsmbus last installed on this very board carry
    // that image's version (and verified when it was installed); any other
    // reading only the running one.
    const std::optional<InstalledRecord> record =
        readRecord(installedRecordPath(installed.board));
    if (record && record->length == bytes.size() && record->crc == installed.crc &&
        record->board == installed.board.text()) {
        installed.version = record->version;
        installed.versionOfImage = true;
    }
    nZELSMBUS000::tFirmwareImageFields fields;
    fields.subsystemId = subsystem;
    fields.pinOutAddress = pinOutAddress;
    fields.pinOutVersion = board->version;
    fields.offset =
        device != nullptr && device->placement == nZELSMBUS000::tRegionPlacement::atOffset ? offset
                                                                                          : 0;
    fields.version = installed.version;
    installed.text = nZELSMBUS000::formatFirmwareImage(fields, bytes.data(), bytes.size());
    return installed;
}

}  // namespace zelsmbus_tool
