#include "firmwareJournal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "failure.h"
#include "firmwareImage.h"

namespace zelsmbus_tool {
namespace {

// A journal of another world: never resumed here, renamed FILE.other (a dry
// run only says it would be).
void setAside(const std::string &path, const std::string &then, const std::string &here,
              bool dryRun) {
    const std::string aside = path + ".other";
    if (!dryRun && rename(path.c_str(), aside.c_str()) != 0)
        throw ToolError("cannot set aside the journal " + path + ": " + std::strerror(errno));
    std::cout << "The journal " << path << " was written for another board or world (world "
              << then << " there, " << here << " here): it is not resumed here, and "
              << (dryRun ? "would be" : "was") << " set aside as " << aside << ".\n";
}

std::string journalHex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*x", digits, value);
    return text;
}

std::optional<std::string> readWholeFile(const std::string &path, int &error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = errno;
        return std::nullopt;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        error = EIO;
        return std::nullopt;
    }
    return text.str();
}

bool exists(const std::string &path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

uint32_t number(const std::string &value) {
    return uint32_t(std::strtoul(value.c_str(), nullptr, 0));
}

// A whole number in the form journalText writes, or nullopt.
std::optional<uint32_t> strictNumber(const std::string &value) {
    if (value.empty()) return std::nullopt;
    char *end = nullptr;
    errno = 0;
    const unsigned long parsed = std::strtoul(value.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || parsed > 0xFFFFFFFFul) return std::nullopt;
    return uint32_t(parsed);
}

std::string factsText(const ImageFacts &facts) {
    return journalHex(facts.version, 8) + " " + std::to_string(facts.byteCount) + " " +
           journalHex(facts.crc, 8);
}

std::optional<ImageFacts> factsFromText(const std::string &text) {
    std::istringstream in(text);
    std::string version, bytes, crc, rest;
    if (!(in >> version >> bytes >> crc) || (in >> rest)) return std::nullopt;
    const auto v = strictNumber(version), b = strictNumber(bytes), c = strictNumber(crc);
    if (!v || !b || !c) return std::nullopt;
    return ImageFacts{*v, *b, *c};
}

// A journal of an older zelsmbus: no format line, no check, named after the
// resource typed; identity fields only where the last of those versions wrote
// them.
struct LegacyJournal {
    FirmwareJournal journal;
    std::string world, pci;
    bool subsystemKnown = false, flashKnown = false;
    uint32_t subsystem = 0, flash = 0;
};

std::optional<LegacyJournal> readLegacyJournal(const std::string &text) {
    LegacyJournal legacy;
    FirmwareJournal &journal = legacy.journal;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
        if (key == "resource") journal.resource = value;
        else if (key == "pci") legacy.pci = value;
        else if (key == "world") legacy.world = value;
        else if (key == "subsystem") legacy.subsystem = number(value), legacy.subsystemKnown = true;
        else if (key == "flash") legacy.flash = number(value), legacy.flashKnown = true;
        else if (key == "installed-version")
            journal.installedVersion = number(value), journal.installedVersionKnown = true;
        else if (key == "pinout-address") journal.pinOutAddress = number(value);
        else if (key == "pinout-word") journal.pinOutWord = number(value), journal.pinOutKnown = true;
        else if (key == "image") journal.image = value;
        else if (key == "backup") journal.backup = value;
        else if (key == "phase") journal.phase = value;
        else if (key == "started") journal.started = value;
    }
    if (journal.resource.empty() || journal.phase.empty()) return std::nullopt;
    return legacy;
}

}  // namespace

std::string journalText(const FirmwareJournal &journal) {
    std::ostringstream text;
    text << "# zelsmbus firmware update journal\n"
         << "format=2\n"
         << "board=" << journal.board.text() << '\n'
         << "resource=" << journal.resource << '\n';
    if (journal.installedVersionKnown)
        text << "installed-version=" << journalHex(journal.installedVersion, 8) << '\n';
    text << "pinout-address=" << journalHex(journal.pinOutAddress, 8) << '\n';
    if (journal.pinOutKnown) text << "pinout-word=" << journalHex(journal.pinOutWord, 8) << '\n';
    text << "image=" << journal.image << '\n';
    if (journal.imageFacts) text << "image-facts=" << factsText(*journal.imageFacts) << '\n';
    text << "backup=" << journal.backup << '\n';
    if (journal.backupFacts) text << "backup-facts=" << factsText(*journal.backupFacts) << '\n';
    text << "flags=" << journal.flags << '\n'
         << "started=" << journal.started << '\n'
         << "phase=" << journal.phase << '\n';
    const std::string body = text.str();
    return body + "check=" +
           journalHex(firmwareCrc(reinterpret_cast<const uint8_t *>(body.data()), body.size()), 8) +
           "\n";
}

JournalReading readJournalText(const std::string &text) {
    auto problem = [](const std::string &why) { return JournalReading{std::nullopt, why}; };
    if (text.empty()) return problem("it is empty");
    const size_t checkAt = text.rfind("\ncheck=");
    if (checkAt == std::string::npos)
        return problem("it has no check line (it was cut short, or is no journal of this zelsmbus)");
    const std::string body = text.substr(0, checkAt + 1);
    const std::string tail = text.substr(checkAt + 7);
    const auto recorded = strictNumber(tail.substr(0, tail.find('\n')));
    if (!recorded || tail.find('\n') + 1 != tail.size())
        return problem("its check line is damaged");
    if (*recorded != firmwareCrc(reinterpret_cast<const uint8_t *>(body.data()), body.size()))
        return problem("its contents do not match their check (the file was changed or damaged)");
    FirmwareJournal journal;
    bool format = false, board = false, pinOutAddress = false;
    std::istringstream in(body);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) return problem("a line without '=': " + line);
        const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
        std::optional<uint32_t> n;
        if (key == "format") {
            if (value != "2") return problem("it has format " + value + ", which this zelsmbus does not know");
            format = true;
        } else if (key == "board") {
            const auto identity = BoardIdentity::fromText(value);
            if (!identity) return problem("its board line is damaged");
            journal.board = *identity, board = true;
        } else if (key == "resource") {
            journal.resource = value;
        } else if (key == "installed-version") {
            if (!(n = strictNumber(value))) return problem("its installed-version is damaged");
            journal.installedVersion = *n, journal.installedVersionKnown = true;
        } else if (key == "pinout-address") {
            if (!(n = strictNumber(value))) return problem("its pinout-address is damaged");
            journal.pinOutAddress = *n, pinOutAddress = true;
        } else if (key == "pinout-word") {
            if (!(n = strictNumber(value))) return problem("its pinout-word is damaged");
            journal.pinOutWord = *n, journal.pinOutKnown = true;
        } else if (key == "image") {
            journal.image = value;
        } else if (key == "image-facts") {
            if (!(journal.imageFacts = factsFromText(value))) return problem("its image-facts are damaged");
        } else if (key == "backup") {
            journal.backup = value;
        } else if (key == "backup-facts") {
            if (!(journal.backupFacts = factsFromText(value))) return problem("its backup-facts are damaged");
        } else if (key == "flags") {
            journal.flags = value;
        } else if (key == "started") {
            journal.started = value;
        } else if (key == "phase") {
            journal.phase = value;
        }
    }
    if (!format) return problem("it has no format line");
    if (!board || !pinOutAddress || journal.image.empty() || journal.phase.empty())
        return problem("it lacks the board, the pin-out address, the image or the phase");
    return JournalReading{journal, ""};
}

BoardJournal::BoardJournal(const BoardIdentity &board, const std::string &resource, bool dryRun) {
    const std::vector<std::string> folders = journalFolders();
    const std::string stem = board.fileStem();
    path_ = folders.front() + "/" + stem + ".journal";

    // The lock first: a run that holds it may be writing the journal.
    const std::string lockPath = folders.front() + "/" + stem + ".lock";
    if (!dryRun) makeStateFolder(folders.front());
    lock_ = open(lockPath.c_str(), O_RDWR | O_CLOEXEC | (dryRun ? 0 : O_CREAT), 0600);
    if (lock_ < 0 && !(dryRun && errno == ENOENT))
        throw ToolError("cannot open " + lockPath + ": " + std::strerror(errno));
    if (lock_ >= 0 && flock(lock_, (dryRun ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
        char holder[32] = {};
        const ssize_t got = pread(lock_, holder, sizeof holder - 1, 0);
        (void)got;
        close(lock_);
        lock_ = -1;
        throw ToolError("another zelsmbus firmware command (process " +
                            std::string(holder[0] != '\0' ? holder : "unknown") +
                            ") is at work on this board (" + board.describe() + ")",
                        std::nullopt, "wait until it has ended, then run the command again");
    }
    if (lock_ >= 0 && !dryRun) {
        const std::string pid = std::to_string(getpid());
        if (ftruncate(lock_, 0) == 0) {
            const ssize_t put = pwrite(lock_, pid.data(), pid.size(), 0);
            (void)put;
        }
    }

    for (const std::string &folder : folders) {
        const std::string path = folder + "/" + stem + ".journal";
        if (!exists(path)) continue;
        int error = 0;
        const std::optional<std::string> text = readWholeFile(path, error);
        const JournalReading reading =
            text ? readJournalText(*text) : JournalReading{std::nullopt, std::strerror(error)};
        if (!reading.journal) {
            throw ToolError("the journal " + path + " of this board cannot be read: " +
                                reading.problem,
                            std::nullopt,
                            "an update of this board may not have finished: do not restart the "
                            "board. If you know that no update is under way, move the file away "
                            "(mv " + path + " " + path + ".broken) and run the command again");
        }
        if (reading.journal->board.world != board.world) {
            setAside(path, reading.journal->board.world, board.world, dryRun);
            continue;
        }
        if (!reading.journal->board.matches(board)) {
            throw ToolError("the journal " + path + " names another board (" +
                                reading.journal->board.describe() + ") than this one (" +
                                board.describe() + ")",
                            std::nullopt,
                            "it was copied or renamed by hand: put it back under the name of "
                            "its board, or move it away, then run the command again");
        }
        path_ = path;
        unfinished_ = reading.journal;
        return;
    }

    // What an older zelsmbus left under the name typed for the board.
    const std::string legacy = legacyJournalPath(resource);
    if (!exists(legacy)) return;
    int error = 0;
    const std::optional<std::string> text = readWholeFile(legacy, error);
    const std::optional<LegacyJournal> old = text ? readLegacyJournal(*text) : std::nullopt;
    const std::string moveAway = "move it away (mv " + legacy + " " + legacy +
                                 ".old) and run the command again";
    if (!old) {
        throw ToolError("the journal " + legacy + ", left by an older zelsmbus, cannot be read" +
                            (text ? "" : std::string(": ") + std::strerror(error)),
                        std::nullopt,
                        "an update of the board named " + resource +
                            " may not have finished: do not restart it. If no update is under "
                            "way, " + moveAway);
    }
    if (!old->world.empty() && old->world != board.world) {
        setAside(legacy, old->world, board.world, dryRun);
        return;
    }
    const bool sameBoard = !old->world.empty() && old->pci == board.pciLocation &&
                           old->subsystemKnown && old->subsystem == board.subsystemId &&
                           old->flashKnown && (board.flashId == 0 || old->flash == board.flashId);
    if (!sameBoard) {
        const std::string recorded =
            old->pci.empty() ? "it records no PCI location" : "it records PCI " + old->pci;
        throw ToolError("the journal " + legacy + ", left by an older zelsmbus for the name " +
                            resource + ", does not show that it belongs to this board (" +
                            board.describe() + "): " + recorded,
                        std::nullopt,
                        "if an update of the board it names did not finish, complete it on that "
                        "board first; otherwise " + moveAway);
    }
    unfinished_ = old->journal;
    unfinished_->board = board;
    legacyPath_ = legacy;
    std::cout << "Taking over the journal " << legacy << " of an older zelsmbus (it names this "
              << "board); it is kept as " << path_ << " from now on.\n";
}

BoardJournal::~BoardJournal() {
    if (lock_ >= 0) close(lock_);  // the lock file stays: removing it would race another run
}

void BoardJournal::write(const FirmwareJournal &journal) {
    writeFileAtomically(path_, journalText(journal));
    if (!legacyPath_.empty()) {
        unlink(legacyPath_.c_str());
        syncFolderOf(legacyPath_);
        legacyPath_.clear();
    }
}

void BoardJournal::remove() {
    for (const std::string &path : {path_, legacyPath_}) {
        if (path.empty()) continue;
        if (unlink(path.c_str()) != 0 && errno != ENOENT)
            throw ToolError("cannot remove the journal " + path + ": " + std::strerror(errno));
        syncFolderOf(path);
    }
    legacyPath_.clear();
}

}  // namespace zelsmbus_tool
