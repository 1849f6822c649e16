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

// What the journal of an update that did not finish says, in words.
void tellUnfinished(const FirmwareJournal &journal, const std::string &path) {
    std::cout << "An earlier update of " << journal.resource << " did not finish: started "
              << journal.started << " with " << journal.image << ", ";
    if (journal.phase == "writing") {
        std::cout << "it was stopped (killed, or the system lost power) while it wrote the flash.";
    } else {
        std::cout << "it ended with " << journal.phase << ".";
    }
    std::cout << "\n(journal " << path << ")\n";
}

// Codes with which the library refuses before it erases anything.
bool refusedBeforeErase(int32_t status) { return nZELSMBUS000::firmwareRefusedBeforeErase(status); }

// The failure of the update itself, with what to do next.
[[noreturn]] void updateFailed(const FirmwareArgs &args, int32_t status, const std::string &journal,
                               const std::string &backup) {
    const std::string what = "the firmware update of " + args.resource + " failed";
    const std::string again = "zelsmbus firmware " + args.resource + " " + args.image;
    if (status == ZELSMBUS_ERROR_BUSY) {
        throw ToolError(what, status,
                        "another program is writing this controller's flash; wait until it "
                        "is done, then run the command again");
    }
    if (status == ZELSMBUS_ERROR_NOT_SUPPORTED) {
        throw ToolError(what, status,
                        "the image does not suit this controller: its header version, flash "
                        "device, flash offset, subsystem or pin-out version; the flash is "
                        "unchanged");
    }
    if (refusedBeforeErase(status)) {
        throw ToolError(what, status, "the flash is unchanged; mend the cause and run " + again);
    }
    std::string hint = "do not restart the board: run `" + again + "` again (the journal " +
                       journal + " lets it complete the update)";
    if (!backup.empty()) {
        hint += ", or write the saved firmware back with `zelsmbus firmware --restore " +
                args.resource + "`";
    }
    throw ToolError(what, status, hint);
}

// The backup: taken from firmware that is whole, never over an interrupted
// update (whose own backup stays). Returns its path, empty when there is none.
std::string saveBackup(const FirmwareArgs &args, const Session &session,
                       const FirmwareHeader &header,
                       const std::optional<FirmwareJournal> &unfinished) {
    if (unfinished) {
        if (!unfinished->backup.empty())
            std::cout << "The backup taken before that update stays: " << unfinished->backup
                      << '\n';
        return unfinished->backup;
    }
    if (args.noBackup) return {};
    const std::string backup =
        absolutePath(args.backup.empty() ? defaultBackupPath(args.resource) : args.backup);
    std::cout << "Reading the installed firmware for the backup..." << std::endl;
    InstalledImage saved;
    try {
        saved = readInstalledImage(session.handle(), args.resource, header.pinOutAddress,
                                   header.offset);
    } catch (const ToolError &error) {
        throw ToolError(std::string("no backup: ") + error.what(), error.code(),
                        (error.hint().empty() ? "" : error.hint() + "; or ") +
                            "update without a backup (--no-backup)");
    }
    if (args.dryRun) {
        std::cout << "The backup (" << saved.byteCount << " bytes, version " << hex8(saved.version)
                  << ") would be saved to " << backup << '\n';
    } else {
        writeFileAtomically(backup, saved.text);
        std::cout << "Saved the installed firmware (" << saved.byteCount << " bytes, version "
                  << hex8(saved.version) << ") to " << backup << '\n';
    }
    return backup;
}

// The journal knows the word an interrupted update erased: it goes back
// first (in a dry run, the check goes on as if it had).
void restorePinOutFromJournal(const FlashWriterLock &held, const FirmwareArgs &args,
                              const Session &session, const FirmwareHeader &header,
                              const std::optional<FirmwareJournal> &unfinished, uint16_t subsystem,
                              std::optional<BoardPinOut> &board) {
    const bool journalKnowsWord = unfinished && unfinished->pinOutKnown && board &&
                                  unfinished->subsystemId == subsystem &&
                                  unfinished->flashId == board->flashId &&
                                  unfinished->pinOutAddress == header.pinOutAddress;
    if (!board || !board->erased || !journalKnowsWord) return;
    std::cout << "The pin-out word at " << hex8(header.pinOutAddress)
              << " reads erased; the journal holds it (" << hex8(unfinished->pinOutWord) << ")";
    if (args.dryRun) {
        std::cout << ": it would be written back.\n";
        board->version = unfinished->flashId == 0x9D17 ? (unfinished->pinOutWord >> 8) & 0xFFu
                                                       : unfinished->pinOutWord & 0xFFu;
        board->erased = false;
        return;
    }
    std::cout << ": writing it back.\n";
    if (!restorePinOutWord(held, session.handle(), board->flashId, header.pinOutAddress,
                           unfinished->pinOutWord)) {
        throw ToolError("the pin-out word of " + args.resource + " could not be written back",
                        std::nullopt,
                        "check the connection to the board and run the command again; "
                        "do not restart the board");
    }
    board = readBoardPinOut(held, session.handle(), header.pinOutAddress);
}

void runFirmware(FirmwareArgs args) {
    const std::string journalFile = journalPath(args.resource);
    std::optional<FirmwareJournal> unfinished = readJournalOfBoard(journalFile, args.resource);
    if (args.restore) {
        if (args.image.empty()) {
            args.image = unfinished && !unfinished->backup.empty()
                             ? unfinished->backup
                             : defaultBackupPath(args.resource);
        }
        args.force = true;     // the saved firmware is the installed version or older
        args.noBackup = true;  // the flash may be damaged: never save over the backup
    }
    if (args.image.empty())
        throw UsageError("IMAGE is required (it may be left out only with --restore)");
    const std::string image = readFile(args.image);
    const FirmwareCheck verdict = checkFirmwareImage(image);
    printHeader(args.image, verdict);
    if (!verdict.problems.empty()) {
        std::string list;
        for (const std::string &problem : verdict.problems) list += "; " + problem;
        throw ToolError("the image " + args.image +
                        " is not a sound firmware image: " + list.substr(2));
    }

    Session session(args.resource, false);
    uint16_t subsystem = 0;
    uint32_t installed = 0;
    check(ZELSMBusGetAttribute(session.handle(), ZELSMBUS_ATTR_SUBSYSTEM_ID, &subsystem),
          "cannot read the subsystem of " + args.resource);
    check(ZELSMBusGetAttribute(session.handle(), ZELSMBUS_ATTR_FIRMWARE_VERSION, &installed),
          "cannot read the firmware version of " + args.resource);
    if (unfinished) tellUnfinished(*unfinished, journalFile);
    // The pin-out word is read only from a controller the image is made for,
    // under the flash writer lock, which is let go before the question and
    // the update (the library takes it again for the update).
    const bool subsystemFits = verdict.header.subsystemId == subsystem;
    std::optional<BoardPinOut> board;
    if (subsystemFits) {
        const FlashWriterLock held(session.handle(), args.resource);
        board = readBoardPinOut(held, session.handle(), verdict.header.pinOutAddress);
        restorePinOutFromJournal(held, args, session, verdict.header, unfinished, subsystem, board);
    }
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
    if (verdict.header.version <= installed && !args.force && !unfinished) {
        throw ToolError("the image's version " + hex8(verdict.header.version) +
                            " is not newer than the installed " + hex8(installed),
                        std::nullopt, "--force installs it anyway");
    }

    if (!args.dryRun) {
        std::cout << std::flush;
        confirmWrite(
            "I will replace the firmware of " + args.resource + " with " + args.image + ".",
            "DANGER! An interrupted or wrong firmware update can leave the controller "
            "unusable.\nDo not switch the system off while it runs.");
    }
    const std::string backup = saveBackup(args, session, verdict.header, unfinished);
    if (args.dryRun) {
        std::cout << "Dry run: every check passed; nothing was written.\n";
        return;
    }

    FirmwareJournal journal;
    journal.resource = args.resource;
    journal.subsystemId = subsystem;
    journal.flashId = board ? board->flashId : 0;
    recordBoard(journal, session.handle(), args.resource, verdict.header.pinOutAddress);
    journal.pinOutAddress = verdict.header.pinOutAddress;
    journal.pinOutKnown = board.has_value() && !board->erased;
    journal.pinOutWord = journal.pinOutKnown ? board->word : 0;
    if (unfinished && !journal.pinOutKnown) {
        journal.pinOutKnown = unfinished->pinOutKnown;
        journal.pinOutWord = unfinished->pinOutWord;
    }
    journal.image = absolutePath(args.image);
    journal.backup = backup;
    journal.started = localTimeNow();
    journal.phase = "writing";
    writeJournal(journalFile, journal);

    std::cout << "Writing the firmware (erase, program, verify); Ctrl-C is held until it ends."
              << std::endl;
    int32_t status = 0;
    double seconds = 0;
    {
        HeldSignals held;
        // Measured against the last update of this flash device, when known.
        Progress elapsed("Updating firmware (Ctrl-C is held)", errorIsTerminal(),
                         lastUpdateSeconds(args.resource, board ? board->flashId : 0),
                         verdict.decodedLength);
        status = ZELSMBusWriteFirmware(session.handle(), uint32_t(image.size()), image.data(),
                                       args.force ? ZELSMBUS_FIRMWARE_FORCE : 0u);
        seconds = elapsed.stop();
    }
    if (HeldSignals::received() != 0) {
        std::cerr << "zelsmbus: " << strsignal(HeldSignals::received())
                  << " arrived during the update; it was held until the update ended.\n";
    }
    if (status < 0) {
        if (refusedBeforeErase(status)) {
            removeJournal(journalFile);
        } else {
            journal.phase = "failed " + std::to_string(status);
            writeJournal(journalFile, journal);
        }
        updateFailed(args, status, journalFile, backup);
    }
    check(status, "the firmware update of " + args.resource + " failed");
    removeJournal(journalFile);
    rememberInstalledImage(session.handle(), args.resource, verdict, board ? board->flashId : 0,
                           seconds);

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
    if (board && board->flashId == 0x9D17) {
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
