#include "firmwareJournal.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "boardPinOut.h"
#include "controller/flashChips.h"
#include "failure.h"
#include "firmwareImage.h"
#include "flashWriterLock.h"
#include "statusText.h"

namespace zelsmbus_tool {
namespace {

constexpr const char *kSystemFolder = "/var/lib/zelsmbus";

void makeDirectory(const std::string &path) {
    if (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return;
    if (errno == ENOENT) {
        const size_t slash = path.rfind('/');
        if (slash != std::string::npos && slash > 0) {
            makeDirectory(path.substr(0, slash));
            if (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return;
        }
    }
    throw ToolError("cannot create the state directory " + path + ": " + std::strerror(errno),
                    std::nullopt,
                    "set XDG_STATE_HOME to a writable directory, or name the backup with --backup");
}

// A resource name as one file name: characters other than letters, digits,
// '-' and '.' become '_'. Only for the files an older zelsmbus named so.
std::string fileNameOf(const std::string &resource) {
    std::string name = resource;
    for (char &c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.';
        if (!plain) c = '_';
    }
    return name;
}

std::string folderOf(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

void syncFolder(const std::string &path) {
    const int folder = open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);  // a rename or removal reaches the disk
        close(folder);
    }
}

// Whether the simulated driver answers this process from a world inside it
// (zelsim --in-process): preloaded, and no world server named.
bool inProcessWorld() {
    const char *server = std::getenv("ZELSIM_SERVER");
    const char *preload = std::getenv("LD_PRELOAD");
    const bool simulated = preload != nullptr && std::strstr(preload, "libzelsim.so") != nullptr;
    return simulated && (server == nullptr || server[0] == '\0');
}

bool simulatedWorld() {
    const char *world = std::getenv("ZELSIM_STATE_DIR");
    return (world != nullptr && world[0] == '/') || std::getenv("ZELSIM_SERVER") != nullptr ||
           inProcessWorld();
}

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

void removeTree(const std::string &path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

// The state folder of a world that ends with this process.
std::string temporaryStateDirectory() {
    static std::string folder;
    if (!folder.empty()) return folder;
    const char *base = std::getenv("TMPDIR");
    std::string templ =
        std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/zelsmbus-state.XXXXXX";
    if (mkdtemp(&templ[0]) == nullptr) {
        throw ToolError("cannot make a state folder for the in-process world: " +
                            std::string(std::strerror(errno)),
                        std::nullopt, "name the backup with --backup, or set ZELSIM_STATE_DIR");
    }
    folder = templ;
    std::atexit([] { removeTree(folder); });
    return folder;
}

std::string hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*x", digits, value);
    return text;
}

std::string plainHex(uint32_t value, int digits) { return hex(value, digits).substr(2); }

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
    return hex(facts.version, 8) + " " + std::to_string(facts.byteCount) + " " +
           hex(facts.crc, 8);
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

std::string homeOf(uid_t uid) {
    const passwd *entry = getpwuid(uid);
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

std::string homeOf(const char *user) {
    if (user == nullptr || user[0] == '\0') return "";
    const passwd *entry = getpwnam(user);
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

// Replaces the file at path (a regular file or nothing) by way of a
// temporary file beside it.
void replaceFile(const std::string &path, const std::string &contents) {
    makeDirectory(folderOf(path));
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0) throw ToolError("cannot write " + path + ": " + std::strerror(errno));
    size_t written = 0;
    bool failed = false;
    int error = 0;
    while (written < contents.size() && !failed) {
        const ssize_t n = write(fd, contents.data() + written, contents.size() - written);
        if (n < 0 && errno == EINTR) continue;
        failed = n <= 0;
        if (failed) error = n < 0 ? errno : ENOSPC;
        if (!failed) written += size_t(n);
    }
    if (!failed && (fchmod(fd, 0600) != 0 || fsync(fd) != 0)) failed = true, error = errno;
    if (close(fd) != 0 && !failed) failed = true, error = errno;
    if (!failed && rename(temporary.c_str(), path.c_str()) != 0) failed = true, error = errno;
    if (failed) {
        unlink(temporary.c_str());
        throw ToolError("cannot write " + path + ": " + std::strerror(error));
    }
    syncFolder(path);
}

// Writes into what is there (a device node, a FIFO), never replacing it.
void writeInPlace(const std::string &path, const std::string &contents) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) throw ToolError("cannot write " + path + ": " + std::strerror(errno));
    size_t written = 0;
    while (written < contents.size()) {
        const ssize_t n = write(fd, contents.data() + written, contents.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            close(fd);
            throw ToolError("cannot write " + path + ": " + std::strerror(error));
        }
        written += size_t(n);
    }
    close(fd);
}

}  // namespace

std::string BoardIdentity::fileStem() const {
    std::string pci = pciLocation;
    for (char &c : pci)
        if (c == ':') c = '.';
    return "board-" + pci + "-" + plainHex(vendorId, 4) + "." + plainHex(deviceId, 4) + "." +
           plainHex(subsystemVendorId, 4) + "." + plainHex(subsystemId, 4);
}

bool BoardIdentity::matches(const BoardIdentity &other) const {
    BoardIdentity same = other;
    if (flashId == 0 || other.flashId == 0) same.flashId = flashId;
    return same == *this;
}

std::string BoardIdentity::text() const {
    return "world=" + world + ";pci=" + pciLocation + ";ids=" + plainHex(vendorId, 4) + ":" +
           plainHex(deviceId, 4) + ":" + plainHex(subsystemVendorId, 4) + ":" +
           plainHex(subsystemId, 4) + ";flash=" + hex(flashId, 4);
}

std::optional<BoardIdentity> BoardIdentity::fromText(const std::string &text) {
    BoardIdentity board;
    bool world = false, pci = false, ids = false, flash = false;
    std::istringstream in(text);
    std::string field;
    while (std::getline(in, field, ';')) {
        const size_t equals = field.find('=');
        if (equals == std::string::npos) return std::nullopt;
        const std::string key = field.substr(0, equals), value = field.substr(equals + 1);
        if (key == "world") {
            board.world = value, world = true;
        } else if (key == "pci") {
            board.pciLocation = value, pci = true;
        } else if (key == "ids") {
            unsigned v[4];
            char end;
            if (std::sscanf(value.c_str(), "%4x:%4x:%4x:%4x%c", &v[0], &v[1], &v[2], &v[3],
                            &end) != 4)
                return std::nullopt;
            board.vendorId = uint16_t(v[0]), board.deviceId = uint16_t(v[1]);
            board.subsystemVendorId = uint16_t(v[2]), board.subsystemId = uint16_t(v[3]);
            ids = true;
        } else if (key == "flash") {
            const auto id = strictNumber(value);
            if (!id || *id > 0xFFFF) return std::nullopt;
            board.flashId = uint16_t(*id), flash = true;
        }
    }
    if (!world || !pci || !ids || !flash || board.world.empty() || board.pciLocation.empty())
        return std::nullopt;
    return board;
}

std::string BoardIdentity::describe() const {
    return "PCI " + pciLocation + ", ids " + plainHex(vendorId, 4) + ":" + plainHex(deviceId, 4) +
           " " + plainHex(subsystemVendorId, 4) + ":" + plainHex(subsystemId, 4) + ", flash " +
           hex(flashId, 4) + (world == "hardware" ? "" : ", " + world);
}

BoardIdentity boardAttributes(tSMBusHandle *handle, const std::string &resource) {
    const std::string what = "cannot read the identity of " + resource;
    BoardIdentity board;
    uint16_t bus = 0, device = 0, function = 0;
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_PCI_BUS, &bus), what);
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_PCI_DEVICE, &device), what);
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_PCI_FUNCTION, &function), what);
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_VENDOR_ID, &board.vendorId), what);
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_DEVICE_ID, &board.deviceId), what);
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_SUBSYSTEM_VENDOR_ID,
                               &board.subsystemVendorId),
          what);
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_SUBSYSTEM_ID, &board.subsystemId), what);
    char location[32];
    std::snprintf(location, sizeof location, "%02x:%02x.%x", bus, device, function);
    board.pciLocation = location;
    board.world = currentWorld();
    return board;
}

BoardIdentity identifyBoard(tSMBusHandle *handle, const std::string &resource) {
    BoardIdentity board = boardAttributes(handle, resource);
    const FlashWriterLock held(handle, resource);
    const uint16_t flashId = readFlashIdentifier(held, handle).value_or(0);
    board.flashId = nZELSMBUS000::findFlashChip(flashId) != nullptr ? flashId : 0;
    return board;
}

std::string journalText(const FirmwareJournal &journal) {
    std::ostringstream text;
    text << "# zelsmbus firmware update journal\n"
         << "format=2\n"
         << "board=" << journal.board.text() << '\n'
         << "resource=" << journal.resource << '\n';
    if (journal.installedVersionKnown)
        text << "installed-version=" << hex(journal.installedVersion, 8) << '\n';
    text << "pinout-address=" << hex(journal.pinOutAddress, 8) << '\n';
    if (journal.pinOutKnown) text << "pinout-word=" << hex(journal.pinOutWord, 8) << '\n';
    text << "image=" << journal.image << '\n';
    if (journal.imageFacts) text << "image-facts=" << factsText(*journal.imageFacts) << '\n';
    text << "backup=" << journal.backup << '\n';
    if (journal.backupFacts) text << "backup-facts=" << factsText(*journal.backupFacts) << '\n';
    text << "flags=" << journal.flags << '\n'
         << "started=" << journal.started << '\n'
         << "phase=" << journal.phase << '\n';
    const std::string body = text.str();
    return body + "check=" +
           hex(firmwareCrc(reinterpret_cast<const uint8_t *>(body.data()), body.size()), 8) +
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

std::string currentWorld() {
    const char *identity = std::getenv("ZELSIM_WORLD_ID");
    if (identity != nullptr && identity[0] != '\0' && std::getenv("ZELSIM_SERVER") != nullptr) {
        return std::string("simulated ") + identity;
    }
    // A world inside the process is this process's alone.
    if (inProcessWorld()) return "simulated in-process " + std::to_string(getpid());
    return "hardware";
}

std::string firmwareStateDirectory() {
    // Simulated boards' backups and journals never go where real ones are kept.
    const char *world = std::getenv("ZELSIM_STATE_DIR");
    if (world != nullptr && world[0] == '/') return std::string(world) + "/zelsmbus";
    if (std::getenv("ZELSIM_SERVER") != nullptr || inProcessWorld()) {
        return temporaryStateDirectory() + "/zelsmbus";
    }
    std::string directory;
    const char *state = std::getenv("XDG_STATE_HOME");
    const char *home = std::getenv("HOME");
    if (state != nullptr && state[0] == '/') {
        directory = std::string(state) + "/zelsmbus";
    } else if (geteuid() == 0) {
        directory = kSystemFolder;
    } else if (home != nullptr && home[0] == '/') {
        directory = std::string(home) + "/.local/state/zelsmbus";
    } else {
        throw ToolError("no state directory: neither XDG_STATE_HOME nor HOME is set", std::nullopt,
                        "set XDG_STATE_HOME, or name the backup with --backup");
    }
    return directory;
}

std::vector<std::string> journalFolders() {
    if (simulatedWorld()) return {firmwareStateDirectory()};
    std::vector<std::string> folders;
    auto add = [&](const std::string &folder) {
        if (folder.empty() || folder[0] != '/') return;
        for (const std::string &known : folders)
            if (known == folder) return;
        folders.push_back(folder);
    };
    if (geteuid() == 0) add(kSystemFolder);
    try {
        add(firmwareStateDirectory());
    } catch (const ToolError &) {
        // No folder of this user's: the others below may still hold a journal.
    }
    const char *state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') add(std::string(state) + "/zelsmbus");
    const char *home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') add(std::string(home) + "/.local/state/zelsmbus");
    const std::string own = homeOf(getuid());
    if (!own.empty()) add(own + "/.local/state/zelsmbus");
    const std::string invoking = homeOf(std::getenv("SUDO_USER"));
    if (!invoking.empty()) add(invoking + "/.local/state/zelsmbus");
    add(kSystemFolder);
    if (folders.empty()) firmwareStateDirectory();  // throws with the reason
    return folders;
}

std::string defaultBackupPath(const BoardIdentity &board) {
    return firmwareStateDirectory() + "/" + board.fileStem() + ".backup.img";
}

std::string installedRecordPath(const BoardIdentity &board) {
    return firmwareStateDirectory() + "/" + board.fileStem() + ".installed";
}

std::string legacyBackupPath(const std::string &resource) {
    return firmwareStateDirectory() + "/" + fileNameOf(resource) + ".backup.img";
}

std::string legacyJournalPath(const std::string &resource) {
    return firmwareStateDirectory() + "/" + fileNameOf(resource) + ".journal";
}

BoardJournal::BoardJournal(const BoardIdentity &board, const std::string &resource, bool dryRun) {
    const std::vector<std::string> folders = journalFolders();
    const std::string stem = board.fileStem();
    path_ = folders.front() + "/" + stem + ".journal";

    // The lock first: a run that holds it may be writing the journal.
    const std::string lockPath = folders.front() + "/" + stem + ".lock";
    if (!dryRun) makeDirectory(folders.front());
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
        syncFolder(legacyPath_);
        legacyPath_.clear();
    }
}

void BoardJournal::remove() {
    for (const std::string &path : {path_, legacyPath_}) {
        if (path.empty()) continue;
        if (unlink(path.c_str()) != 0 && errno != ENOENT)
            throw ToolError("cannot remove the journal " + path + ": " + std::strerror(errno));
        syncFolder(path);
    }
    legacyPath_.clear();
}

std::optional<bool> isRegularFile(const std::string &path) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0) return S_ISREG(info.st_mode);
    if (lstat(path.c_str(), &info) == 0) return false;  // a link to nothing
    return std::nullopt;
}

void writeFileAtomically(const std::string &path, const std::string &contents) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        if (lstat(path.c_str(), &info) == 0)
            throw ToolError("cannot write " + path + ": it is a symbolic link to nothing");
        replaceFile(path, contents);
        return;
    }
    if (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode)) {
        writeInPlace(path, contents);
        return;
    }
    if (!S_ISREG(info.st_mode))
        throw ToolError("cannot write " + path + ": it is neither a file nor a character device");
    // A link stays a link: the file it names is the one replaced.
    char resolved[PATH_MAX];
    if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        if (realpath(path.c_str(), resolved) == nullptr)
            throw ToolError("cannot write " + path + ": " + std::strerror(errno));
        replaceFile(resolved, contents);
        return;
    }
    replaceFile(path, contents);
}

std::string absolutePath(const std::string &path) {
    if (!path.empty() && path[0] == '/') return path;
    char here[PATH_MAX];
    if (getcwd(here, sizeof here) == nullptr) return path;
    return std::string(here) + "/" + path;
}

std::string localTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

}  // namespace zelsmbus_tool
