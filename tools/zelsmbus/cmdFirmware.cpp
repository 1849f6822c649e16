// zelsmbus firmware: check an image, then replace a controller's firmware with it.
#include <zelsmbus.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "boardPinOut.h"
#include "commands.h"
#include "confirm.h"
#include "failure.h"
#include "firmwareBackup.h"
#include "firmwareImage.h"
#include "firmwareJournal.h"
#include "flash/firmwareWrite.h"
#include "flash/flashChips.h"
#include "flashWriterLock.h"
#include "heldSignals.h"
#include "options.h"
#include "progress.h"
#include "session.h"
#include "utf8Text.h"

namespace zelsmbus_tool {
namespace {

struct FirmwareArgs {
    std::string resource, image, backup;
    bool force = false, noBackup = false, dryRun = false, restore = false;
};

// No image can be larger than this. The largest firmware region is the 3 MiB
// (0x300000 bytes) of flash device 0x9D17; in Base64 (4 characters for every 3
// bytes) that is 4 MiB. On top: a line feed every 64 characters, which the
// payload may carry and the decoder skips (64 KiB), and 64 KiB for the header.
constexpr size_t kLargestRegion = 0x300000;
constexpr size_t kLargestPayload = (kLargestRegion + 2) / 3 * 4;
constexpr size_t kLargestImage = kLargestPayload + kLargestPayload / 64 + 0x10000;
static_assert(kLargestImage == 4325376, "4 MiB of Base64, 64 KiB of line feeds, 64 KiB header");

// Reads the image, but never more than an image can be: a device or a huge file
// named by mistake (/dev/zero) ends the command at once.
std::string readFile(const std::string &path) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) throw ToolError("cannot read the image " + path + ": " + std::strerror(errno));
    std::string text(kLargestImage + 1, '\0');
    const size_t got = std::fread(&text[0], 1, text.size(), file);
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    std::fclose(file);
    if (failed) throw ToolError("cannot read the image " + path + ": " + std::strerror(error));
    if (got > kLargestImage) {
        throw ToolError("the image " + path +
                        " is larger than any firmware image can be (at most " +
                        std::to_string(kLargestImage) + " bytes)");
    }
    text.resize(got);
    return text;
}

std::string hex8(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

void printHeader(const std::string &path, const FirmwareCheck &check) {
    const FirmwareHeader &h = check.header;
    std::cout << "Image " << path << ":\n"
              << "  header version:   " << h.headerVersion << '\n'
              << "  update type:      " << terminalSafe(h.updateType) << '\n'
              << "  firmware version: " << hex8(h.version) << '\n'
              << "  subsystem:        " << hex4(h.subsystemId) << '\n'
              << "  pin-out:          version " << h.pinOutVersion << " at "
              << hex8(h.pinOutAddress) << '\n'
              << "  flash offset:     " << hex8(h.offset) << '\n'
              << "  size:             " << h.byteCount << " bytes, CRC " << hex8(h.crc) << '\n';
}

std::string versionOfWord(uint16_t flashId, uint32_t word) {
    // The version is the word's first byte in the flash: bits 8-15 of a
    // 16-bit indirect word, the low byte of a serial one.
    const nZELSMBUS000::tFlashChip *device = nZELSMBUS000::findFlashChip(flashId);
    const bool sixteenBits = device != nullptr && device->pinOutBytes == 2;
    return std::to_string(sixteenBits ? (word >> 8) & 0xFFu : word & 0xFFu);
}

// What the journal of an update that did not finish says, in words.
void tellUnfinished(const FirmwareJournal &journal, const std::string &path) {
    std::cout << "An earlier update of this board (" << journal.board.describe()
              << ") did not finish: started " << journal.started << " with " << journal.image
              << ", ";
    if (journal.phase == "writing") {
        std::cout << "it was stopped (killed, or the system lost power) while it wrote the flash.";
    } else {
        std::cout << "it ended with " << journal.phase << ".";
    }
    std::cout << "\n(journal " << path << ")\n";
}

ImageFacts factsOf(const FirmwareCheck &check) {
    return ImageFacts{check.header.version, check.header.byteCount, check.header.crc};
}

// Codes with which the library refuses before it erases anything.
bool refusedBeforeErase(int32_t status) { return nZELSMBUS000::firmwareRefusedBeforeErase(status); }

// The command that completes what this one started, with the flags it needs.
std::string sameCommand(const FirmwareArgs &args) {
    if (args.restore) return "zelsmbus firmware --restore " + args.resource;
    return std::string("zelsmbus firmware ") + (args.force ? "--force " : "") + args.resource +
           " " + args.image;
}

// The failure of the update itself, with what to do next.
[[noreturn]] void updateFailed(const FirmwareArgs &args, int32_t status, const std::string &journal,
                               const std::string &backup, bool resumed) {
    const std::string what = "the firmware update of " + args.resource + " failed";
    const std::string again = sameCommand(args);
    if (refusedBeforeErase(status) && resumed) {
        throw ToolError(what, status,
                        "nothing was written: the flash is as the update that did not finish "
                        "left it. Do not restart the board: mend the cause and run `" + again +
                            "` (the journal " + journal + " stays)");
    }
    if (status == ZELSMBUS_ERROR_BUSY) {
        throw ToolError(what, status,
                        "another program is writing this controller's flash; wait until it "
                        "is done, then run the command again");
    }
    if (status == ZELSMBUS_ERROR_NOT_SUPPORTED) {
        throw ToolError(what, status,
                        "the image does not suit this controller: its header version, flash "
                        "device, flash offset, subsystem or pin-out version (on 0x9D17 a "
                        "pin-out word the boot header would cover); the flash is unchanged");
    }
    if (refusedBeforeErase(status)) {
        throw ToolError(what, status, "the flash is unchanged; mend the cause and run " + again);
    }
    std::string hint = "do not restart the board: run `" + again + "` again (the journal " +
                       journal + " lets it complete the update)";
    if (!backup.empty() && !args.restore) {
        hint += ", or write the saved firmware back with `zelsmbus firmware --restore " +
                args.resource + "`";
    }
    throw ToolError(what, status, hint);
}

// Writes the journal where its failure must not hide the update's own: a
// full disk costs the journal's newest line, never the report.
void writeJournalQuietly(BoardJournal &journal, const FirmwareJournal &contents) {
    try {
        journal.write(contents);
    } catch (const ToolError &error) {
        std::cerr << "zelsmbus: warning: the journal could not be updated: " << error.what()
                  << '\n';
    }
}

void removeJournalQuietly(BoardJournal &journal) {
    try {
        journal.remove();
    } catch (const ToolError &error) {
        std::cerr << "zelsmbus: warning: " << error.what()
                  << " (the next update of this board will say that this one did not finish)\n";
    }
}

struct Backup {
    std::string path;
    std::optional<ImageFacts> facts;
};

// The image --restore writes: the one named, else the backup the unfinished
// update took, else this board's own backup. Each must be a sound image that
// names this board, and the backup an unfinished update took must still be
// what it was then.
std::string restoreImage(const FirmwareArgs &args, const BoardIdentity &board,
                         const std::optional<FirmwareJournal> &unfinished) {
    if (!args.image.empty()) return args.image;
    if (unfinished) {
        if (!unfinished->backup.empty()) return unfinished->backup;
        throw ToolError("the update of " + args.resource + " that did not finish (started " +
                            unfinished->started + ") took no backup (--no-backup): no file holds "
                            "the firmware it replaced",
                        std::nullopt,
                        "complete that update (zelsmbus firmware " + args.resource + " " +
                            unfinished->image + "), or name a backup of this board you trust: "
                            "zelsmbus firmware --restore " + args.resource + " FILE");
    }
    const std::string own = defaultBackupPath(board);
    if (isRegularFile(own)) return own;
    const std::string legacy = legacyBackupPath(args.resource);
    if (isRegularFile(legacy)) {
        throw ToolError("this board has no backup (" + own + "); " + legacy +
                            " was saved by an older zelsmbus under the name " + args.resource +
                            " and does not record which board it came from",
                        std::nullopt,
                        "if it is this board's firmware, write it with `zelsmbus firmware --force " +
                            args.resource + " " + legacy + "`");
    }
    throw ToolError("this board (" + board.describe() + ") has no backup: " + own +
                        " does not exist",
                    std::nullopt, "name the image to write: zelsmbus firmware --restore " +
                                      args.resource + " FILE");
}

void checkRestoreImage(const FirmwareArgs &args, const std::string &image,
                       const FirmwareCheck &verdict, const BoardIdentity &board,
                       const std::optional<FirmwareJournal> &unfinished) {
    const std::optional<BoardIdentity> saved = imageBoard(image);
    const std::string force = "if you are sure it suits this board, write it with `zelsmbus "
                              "firmware --force " + args.resource + " " + args.image + "`";
    if (!saved) {
        throw ToolError(args.image + " does not record the board it was saved from (it was "
                        "made by zelsmbus-mkimage, or saved by an older zelsmbus)",
                        std::nullopt, force);
    }
    if (!saved->matches(board, true)) {
        throw ToolError(args.image + " was saved from another board (" + saved->describe() +
                            "), not from this one (" + board.describe() + ")",
                        std::nullopt, force);
    }
    if (unfinished && unfinished->backupFacts && absolutePath(args.image) == unfinished->backup &&
        !(*unfinished->backupFacts == factsOf(verdict))) {
        const ImageFacts &then = *unfinished->backupFacts;
        throw ToolError(args.image + " is not the backup taken before the update that did not "
                        "finish: that held version " + hex8(then.version) + ", " +
                            std::to_string(then.byteCount) + " bytes, CRC " + hex8(then.crc) +
                            "; the file holds version " + hex8(verdict.header.version) + ", " +
                            std::to_string(verdict.header.byteCount) + " bytes, CRC " +
                            hex8(verdict.header.crc),
                        std::nullopt, force);
    }
}

// The backup: taken from firmware that is whole, never over an interrupted
// update (whose own backup stays). Its path and what it holds; empty when
// there is none.
Backup saveBackup(const FirmwareArgs &args, const Session &session, const FirmwareCheck &image,
                  const BoardIdentity &board, const std::optional<FirmwareJournal> &unfinished,
                  bool flashAnswered) {
    if (args.restore) {
        // The backup being written back is the one to come back to.
        return {absolutePath(args.image), factsOf(image)};
    }
    if (unfinished) {
        if (!unfinished->backup.empty())
            std::cout << "The backup taken before that update stays: " << unfinished->backup
                      << '\n';
        return {unfinished->backup, unfinished->backupFacts};
    }
    if (args.noBackup) return {};
    const std::string backup = absolutePath(args.backup.empty() ? defaultBackupPath(board)
                                                                : args.backup);
    const std::optional<bool> regular = isRegularFile(backup);
    if (regular && !*regular) {
        throw ToolError("the backup " + backup + " would not be a file that can be read back "
                        "(it names a device, a FIFO, a folder or a link to nothing)",
                        std::nullopt, "name a file with --backup, or update with --no-backup");
    }
    std::cout << "Reading the installed firmware for the backup..." << std::endl;
    InstalledImage saved;
    try {
        // A flash that did not answer the reading before the question may be
        // held by a writer that was killed: now that writing is agreed, it is
        // brought to rest first (in a dry run the reading says what it finds).
        if (!flashAnswered && !args.dryRun) {
            const FlashWriterLock held(session.handle(), args.resource);
            restFlash(held, session.handle());
        }
        saved = readInstalledImage(session.handle(), args.resource, image.header.pinOutAddress,
                                   image.header.offset);
    } catch (const ToolError &error) {
        throw ToolError(std::string("no backup: ") + error.what(), error.code(),
                        (error.hint().empty() ? "" : error.hint() + "; or ") +
                            "update without a backup (--no-backup)");
    }
    if (!saved.versionOfImage && !saved.notVerified.empty()) {
        throw ToolError("no backup: the firmware region of " + args.resource +
                            " is not firmware that verified whole (" + saved.notVerified +
                            "), so it is not saved as a backup",
                        std::nullopt,
                        "an update was cut short without a journal of this tool: write the image "
                        "with --no-backup (the earlier backup, if any, stays)");
    }
    if (saved.byteCount == image.installedLength && saved.crc == image.installedCrc) {
        // A backup of the image itself would replace the firmware it replaced.
        std::cout << "The flash already holds this image's firmware: no backup is taken";
        if (isRegularFile(backup).value_or(false)) {
            std::cout << "; the backup " << backup << " stays.\n";
            const std::string text = readFile(backup);
            const FirmwareCheck kept = checkFirmwareImage(text);
            const std::optional<BoardIdentity> keptBoard = imageBoard(text);
            if (kept.problems.empty() && keptBoard && keptBoard->matches(board))
                return {backup, factsOf(kept)};
            return {};
        }
        std::cout << ".\n";
        return {};
    }
    if (args.dryRun) {
        std::cout << "The backup (" << saved.byteCount << " bytes, version " << hex8(saved.version)
                  << ") would be saved to " << backup << '\n';
        return {backup, std::nullopt};
    }
    saveBackupFile(backup, withBoard(saved.text, board));
    std::cout << "Saved the installed firmware (" << saved.byteCount << " bytes, version "
              << hex8(saved.version) << ") to " << backup << '\n';
    return {backup, ImageFacts{saved.version, uint32_t(saved.byteCount), saved.crc}};
}

// The journal knows the pin-out word an interrupted update erased; it is
// checked against the image before anything is written.
struct PinOutPlan {
    bool writeBack = false;
    uint32_t word = 0;
};

PinOutPlan planPinOut(const FirmwareArgs &args, const FirmwareHeader &header,
                      const std::optional<FirmwareJournal> &unfinished,
                      std::optional<BoardPinOut> &board) {
    if (!board || !board->erased || !unfinished || !unfinished->pinOutKnown ||
        unfinished->pinOutAddress != header.pinOutAddress)
        return {};
    const std::string version = versionOfWord(board->flashId, unfinished->pinOutWord);
    std::cout << "The pin-out word at " << hex8(header.pinOutAddress)
              << " reads erased; the journal holds it (" << hex8(unfinished->pinOutWord)
              << ", pin-out version " << version << ")";
    if (version != std::to_string(header.pinOutVersion)) {
        std::cout << ".\n";
        throw ToolError("the journal's pin-out word (version " + version +
                            ") does not suit the image, made for pin-out version " +
                            std::to_string(header.pinOutVersion) + "; nothing was written",
                        std::nullopt,
                        "use an image made for this board's pin-out version " + version);
    }
    std::cout << (args.dryRun ? ": it would be written back.\n"
                              : ": it is written back once you confirm.\n");
    board->version = header.pinOutVersion;
    board->erased = false;
    return {true, unfinished->pinOutWord};
}

void writePinOutBack(const FirmwareArgs &args, const Session &session,
                     const FirmwareHeader &header, const PinOutPlan &plan,
                     std::optional<BoardPinOut> &board) {
    std::cout << "Writing the pin-out word back." << std::endl;
    const FlashWriterLock held(session.handle(), args.resource);
    if (!restorePinOutWord(held, session.handle(), board->flashId, header.pinOutAddress,
                           plan.word)) {
        throw ToolError("the pin-out word of " + args.resource + " could not be written back",
                        std::nullopt,
                        "check the connection to the board and run the command again; "
                        "do not restart the board");
    }
    board = readBoardPinOut(held, session.handle(), header.pinOutAddress);
}

void runFirmware(FirmwareArgs args) {
    if (args.image.empty() && !args.restore)
        throw UsageError("IMAGE is required (it may be left out only with --restore)");
    Session session(args.resource, false);
    uint16_t subsystem = 0;
    uint32_t installed = 0;
    check(ZELSMBusGetAttribute(session.handle(), ZELSMBUS_ATTR_SUBSYSTEM_ID, &subsystem),
          "cannot read the subsystem of " + args.resource);
    check(ZELSMBusGetAttribute(session.handle(), ZELSMBUS_ATTR_FIRMWARE_VERSION, &installed),
          "cannot read the firmware version of " + args.resource);
    BoardIdentity boardIdentity = identifyBoard(session.handle(), args.resource);
    BoardJournal journalFile(boardIdentity, args.resource, args.dryRun);
    const std::optional<FirmwareJournal> unfinished = journalFile.unfinished();
    // A flash a killed update left busy names itself only once at rest: the
    // journal knows the device.
    if (boardIdentity.flashId == 0 && unfinished) boardIdentity.flashId = unfinished->board.flashId;
    if (args.restore) {
        args.image = restoreImage(args, boardIdentity, unfinished);
        args.force = true;     // the saved firmware is the installed version or older
        args.noBackup = true;  // the flash may be damaged: never save over the backup
    }
    const std::string image = readFile(args.image);
    const FirmwareCheck verdict = checkFirmwareImage(image);
    printHeader(args.image, verdict);
    if (!verdict.problems.empty()) {
        std::string list;
        for (const std::string &problem : verdict.problems) list += "; " + problem;
        throw ToolError("the image " + args.image +
                        " is not a sound firmware image: " + list.substr(2));
    }
    if (args.restore) checkRestoreImage(args, image, verdict, boardIdentity, unfinished);
    if (unfinished) tellUnfinished(*unfinished, journalFile.path());
    // Completing the unfinished update: its image is written whatever version
    // the board reports by now (it may report the image's own already).
    const bool completing =
        unfinished && (unfinished->imageFacts ? *unfinished->imageFacts == factsOf(verdict)
                                              : unfinished->image == absolutePath(args.image));

    // The pin-out word is read only from a controller the image is made for,
    // under the flash writer lock, which is let go before the question and
    // the update (the library takes it again for the update).
    const bool subsystemFits = verdict.header.subsystemId == subsystem;
    std::optional<BoardPinOut> board;
    if (subsystemFits) {
        const FlashWriterLock held(session.handle(), args.resource);
        board = readBoardPinOut(held, session.handle(), verdict.header.pinOutAddress);
    }
    const PinOutPlan pinOutPlan = planPinOut(args, verdict.header, unfinished, board);
    std::cout << "Controller " << args.resource << ": subsystem " << hex4(subsystem)
              << ", firmware version " << hex8(installed);
    if (board) std::cout << ", pin-out version " << board->version;
    std::cout << '\n';
    if (!subsystemFits) {
        throw ToolError("the image is made for subsystem " + hex4(verdict.header.subsystemId) +
                            ", not for this controller's " + hex4(subsystem),
                        std::nullopt, "use an image made for subsystem " + hex4(subsystem));
    }
    if (board && board->erased && board->version != verdict.header.pinOutVersion) {
        throw ToolError("the pin-out word of " + args.resource + " (flash address " +
                            hex8(verdict.header.pinOutAddress) + ") reads erased",
                        ZELSMBUS_ERROR_PIN_OUT_ERASED,
                        "an update was cut short and no journal of this tool knows the word; "
                        "the board's own recovery procedure must restore it before an update "
                        "can check the image against it");
    }
    if (board && board->version != verdict.header.pinOutVersion) {
        throw ToolError("the image is made for pin-out version " +
                            std::to_string(verdict.header.pinOutVersion) + ", but the board of " +
                            args.resource + " has pin-out version " +
                            std::to_string(board->version) + " (read at flash address " +
                            hex8(verdict.header.pinOutAddress) + ")",
                        std::nullopt, "use an image made for this board's pin-out version");
    }
    if (verdict.header.version <= installed && !args.force && !completing) {
        throw ToolError("the image's version " + hex8(verdict.header.version) +
                            " is not newer than the installed " + hex8(installed),
                        std::nullopt, "--force installs it anyway");
    }

    if (!args.dryRun) {
        std::cout << std::flush;
        confirmWrite(
            "I will " + std::string(pinOutPlan.writeBack ? "write the pin-out word back and " : "") +
                "replace the firmware of " + args.resource + " with " + args.image + ".",
            "DANGER! An interrupted or wrong firmware update can leave the controller "
            "unusable.\nDo not switch the system off while it runs.");
    }
    if (pinOutPlan.writeBack && !args.dryRun)
        writePinOutBack(args, session, verdict.header, pinOutPlan, board);
    const Backup backup =
        saveBackup(args, session, verdict, boardIdentity, unfinished, board.has_value());
    if (args.dryRun) {
        std::cout << "Dry run: every check passed; nothing was written.\n";
        return;
    }

    FirmwareJournal journal;
    journal.board = boardIdentity;
    journal.resource = args.resource;
    journal.installedVersion = installed;
    journal.installedVersionKnown = true;
    journal.pinOutAddress = verdict.header.pinOutAddress;
    journal.pinOutKnown = board.has_value() && !board->erased;
    journal.pinOutWord = journal.pinOutKnown ? board->word : 0;
    if (unfinished && !journal.pinOutKnown && unfinished->pinOutAddress == journal.pinOutAddress) {
        journal.pinOutKnown = unfinished->pinOutKnown;
        journal.pinOutWord = unfinished->pinOutWord;
    }
    journal.image = absolutePath(args.image);
    journal.imageFacts = factsOf(verdict);
    journal.backup = backup.path;
    journal.backupFacts = backup.facts;
    journal.flags = args.force ? "--force" : "";
    journal.started = localTimeNow();
    journal.phase = "writing";
    journalFile.write(journal);

    std::cout << "Writing the firmware (erase, program, verify); Ctrl-C is held until it ends."
              << std::endl;
    int32_t status = 0;
    double seconds = 0;
    {
        HeldSignals held;
        // Measured against the last update of this board, when known.
        Progress elapsed("Updating firmware (Ctrl-C is held)", errorIsTerminal(),
                         lastUpdateSeconds(boardIdentity), verdict.decodedLength);
        status = ZELSMBusWriteFirmware(session.handle(), uint32_t(image.size()), image.data(),
                                       args.force || completing ? ZELSMBUS_FIRMWARE_FORCE : 0u);
        seconds = elapsed.stop();
    }
    if (HeldSignals::received() != 0) {
        std::cerr << "zelsmbus: " << strsignal(HeldSignals::received())
                  << " arrived during the update; it was held until the update ended.\n";
    }
    if (status < 0) {
        if (refusedBeforeErase(status)) {
            // Nothing was written: the journal says again what it said before.
            if (unfinished) writeJournalQuietly(journalFile, *unfinished);
            else removeJournalQuietly(journalFile);
        } else {
            journal.phase = "failed " + std::to_string(status);
            writeJournalQuietly(journalFile, journal);
        }
        updateFailed(args, status, journalFile.path(), backup.path, unfinished.has_value());
    }
    check(status, "the firmware update of " + args.resource + " failed");
    removeJournalQuietly(journalFile);
    rememberInstalledImage(boardIdentity, verdict, seconds);

    uint32_t now = 0;
    const int32_t readStatus =
        ZELSMBusGetAttribute(session.handle(), ZELSMBUS_ATTR_FIRMWARE_VERSION, &now);
    std::cout << "Firmware of " << args.resource << " updated and verified";
    if (errorIsTerminal()) {
        char text[32];
        std::snprintf(text, sizeof text, " (%.1f s)", seconds);
        std::cout << text;
    }
    std::cout << ": image version " << hex8(verdict.header.version) << " is installed.\n";
    const nZELSMBUS000::tFlashChip *device = nZELSMBUS000::findFlashChip(boardIdentity.flashId);
    if (device != nullptr && device->activation) {
        std::cout << "The controller has started it";
        if (readStatus >= 0) std::cout << "; it reports firmware version " << hex8(now);
        std::cout << ".\n";
        // A controller tells the version its firmware carries; the header's
        // Version is the image maker's word for it.
        if (readStatus >= 0 && now != verdict.header.version) {
            std::cout << "The firmware it runs carries another version than the image's header ("
                      << hex8(verdict.header.version) << "); firmware-read names the image's.\n";
        }
    } else {
        std::cout << "It takes effect when the board is next powered on";
        if (readStatus >= 0) std::cout << "; until then version " << hex8(now) << " keeps running";
        std::cout << ".\n";
    }
}

}  // namespace

Command addFirmwareCommand(CLI::App &tool) {
    static FirmwareArgs args;
    CLI::App *app = tool.add_subcommand(
        "firmware", "Check a firmware image and write it into a controller's flash");
    app->add_option("RESOURCE", args.resource, "Resource name of the controller")->required();
    app->add_option("IMAGE", args.image,
                    "Firmware image file (with --restore: the backup to write, by default the "
                    "controller's own in the state directory)");
    app->add_flag("--force", args.force, "Install an image that is not newer than the firmware");
    CLI::Option *backup =
        app->add_option("--backup", args.backup,
                        "Save the installed firmware to this file (default: the state directory)");
    app->add_flag("--no-backup", args.noBackup, "Save no backup of the installed firmware")
        ->excludes(backup);
    app->add_flag("--dry-run", args.dryRun, "Run every check, write nothing");
    app->add_flag("--restore", args.restore, "Write the saved backup back")->excludes(backup);
    addYesOption(*app);
    return {app, "zelsmbus firmware [OPTIONS] RESOURCE IMAGE", [] { runFirmware(args); }};
}

}  // namespace zelsmbus_tool
