// The firmware installed in a controller's flash as an image of the project's
// own format, so that `zelsmbus firmware --force` can write it back.
#pragma once

#include <zelsmbus.h>

#include <cstdint>
#include <optional>
#include <string>

#include "firmwareJournal.h"

namespace zelsmbus_tool {

struct InstalledImage {
    std::string text;        // the image, its header naming the board it was read from
    BoardIdentity board;
    uint16_t flashId = 0;
    // The header's Version: the version of the image zelsmbus last installed
    // on this board when the flash holds its bytes (versionOfImage), else the
    // version the controller reports running (attribute 303), which on 0x1010
    // and 0xBF8E is an older one until the board is next powered on.
    uint32_t version = 0;
    bool versionOfImage = false;
    uint32_t running = 0;    // attribute 303
    uint32_t subsystemId = 0;
    uint32_t pinOutVersion = 0;
    size_t byteCount = 0;    // bytes in use: the region without its trailing 0xFF
    uint32_t crc = 0;        // of those bytes, as the header's CRC
    // Why the region is not firmware that verified whole, empty when nothing
    // says so: 0xBF8E's CRC-16 trailer does not match, or 0x9D17's boot header
    // is not there (an update cut short erases it first and writes it last).
    // On 0x1010 nothing in the flash tells: only the bytes zelsmbus recorded
    // as installed, or the absence of a journal, vouch for them.
    std::string notVerified;
};

// Reads the region twice (the readings must agree: a flash that answers all
// ones or a changing region gives no image) and builds the header from the
// board's attributes, its pin-out word at pinOutAddress and the region. On
// 0xBF8E the region starts at offset and its two trailer bytes are left out
// (an update writes them). Throws ToolError with the next step when it cannot.
InstalledImage readInstalledImage(tSMBusHandle *handle, const std::string &resource,
                                  uint32_t pinOutAddress, uint32_t offset);

// A backup's image: the image with two more header lines, "Board::" (the
// board's identity, BoardIdentity::text()) and "Saved::" (the local time).
std::string withBoard(const std::string &image, const BoardIdentity &board);

// The board an image's "Board::" line names; nullopt when it names none (an
// image made by zelsmbus-mkimage, or saved by an older zelsmbus).
std::optional<BoardIdentity> imageBoard(const std::string &image);

// Saves a backup at path (a regular file, or nothing yet; a symbolic link to
// a file stays a link). A different backup already there is kept as
// PATH.previous first, so that no backup is ever lost to the next; the same
// contents are left as they are. Throws ToolError.
void saveBackupFile(const std::string &path, const std::string &text);

// Remembers, in the state directory, the image just installed on the board
// (its version and the bytes firmware-read will give back), so that a later
// reading of the same bytes carries the image's version rather than the one
// the controller runs, and counts as verified.
struct FirmwareCheck;
void rememberInstalledImage(const BoardIdentity &board, const FirmwareCheck &image,
                            double seconds);
// How long the last update of this board took (0: not known), for the
// progress of the next.
double lastUpdateSeconds(const BoardIdentity &board);

// How a reading's Version came about, for the user: "the version of the image
// zelsmbus installed, whose bytes the flash holds" or "the version the
// controller reports running ...".
std::string versionOrigin(const InstalledImage &image);

}  // namespace zelsmbus_tool
