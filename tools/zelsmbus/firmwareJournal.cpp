#include "firmwareJournal.h"

#include <fcntl.h>
#include <limits.h>
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
#include "failure.h"
#include "flashWriterLock.h"
#include "session.h"
#include "statusText.h"

namespace zelsmbus_tool {
namespace {

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

std::string folderOf(const std::string &path);

// A resource name as one file name: characters other than letters, digits,
// '-' and '.' become '_'.
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

// Whether the simulated driver answers this process from a world inside it
// (zelsim --in-process): preloaded, and no world server named.
bool inProcessWorld() {
    const char *server = std::getenv("ZELSIM_SERVER");
    const char *preload = std::getenv("LD_PRELOAD");
    const bool simulated = preload != nullptr && std::strstr(preload, "libzelsim.so") != nullptr;
    return simulated && (server == nullptr || server[0] == '\0');
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

}  // namespace

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
        directory = "/var/lib/zelsmbus";
    } else if (home != nullptr && home[0] == '/') {
        directory = std::string(home) + "/.local/state/zelsmbus";
    } else {
        throw ToolError("no state directory: neither XDG_STATE_HOME nor HOME is set", std::nullopt,
                        "set XDG_STATE_HOME, or name the backup with --backup");
    }
    return directory;
}

std::string journalPath(const std::string &resource) {
    return firmwareStateDirectory() + "/" + fileNameOf(resource) + ".journal";
}

std::string installedRecordPath(const std::string &resource) {
    return firmwareStateDirectory() + "/" + fileNameOf(resource) + ".installed";
}

std::string defaultBackupPath(const std::string &resource) {
    return firmwareStateDirectory() + "/" + fileNameOf(resource) + ".backup.img";
}

std::optional<FirmwareJournal> readJournal(const std::string &path) {
    std::ifstream file(path);
    if (!file) return std::nullopt;
    FirmwareJournal journal;
    std::string line;
    while (std::getline(file, line)) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
        const uint32_t number = uint32_t(std::strtoul(value.c_str(), nullptr, 0));
        if (key == "resource") journal.resource = value;
        else if (key == "pci") journal.pciLocation = value;
        else if (key == "installed-version") journal.installedVersion = number, journal.installedVersionKnown = true;
        else if (key == "world") journal.world = value;
        else if (key == "subsystem") journal.subsystemId = number;
        else if (key == "flash") journal.flashId = uint16_t(number);
        else if (key == "pinout-address") journal.pinOutAddress = number;
        else if (key == "pinout-word") journal.pinOutWord = number, journal.pinOutKnown = true;
        else if (key == "image") journal.image = value;
        else if (key == "backup") journal.backup = value;
        else if (key == "phase") journal.phase = value;
        else if (key == "started") journal.started = value;
    }
    if (journal.resource.empty() || journal.phase.empty()) return std::nullopt;
    return journal;
}

void writeJournal(const std::string &path, const FirmwareJournal &journal) {
    char numbers[160];
    std::snprintf(numbers, sizeof numbers,
                  "subsystem=0x%04x\nflash=0x%04x\npinout-address=0x%08x\n", journal.subsystemId,
                  journal.flashId, journal.pinOutAddress);
    std::ostringstream text;
    text << "# zelsmbus firmware update journal\n"
         << "resource=" << journal.resource << '\n'
         << "pci=" << journal.pciLocation << '\n'
         << "world=" << journal.world << '\n'
         << numbers;
    if (journal.installedVersionKnown) {
        std::snprintf(numbers, sizeof numbers, "installed-version=0x%08x\n",
                      journal.installedVersion);
        text << numbers;
    }
    if (journal.pinOutKnown) {
        std::snprintf(numbers, sizeof numbers, "pinout-word=0x%08x\n", journal.pinOutWord);
        text << numbers;
    }
    text << "image=" << journal.image << '\n'
         << "backup=" << journal.backup << '\n'
         << "started=" << journal.started << '\n'
         << "phase=" << journal.phase << '\n';
    writeFileAtomically(path, text.str());
}

void recordBoard(FirmwareJournal &journal, tSMBusHandle *handle, const std::string &resource,
                 uint32_t pinOutAddress) {
    const std::string what = "cannot read the identity of " + resource;
    uint16_t bus = 0, device = 0, function = 0, subsystem = 0;
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_PCI_BUS, &bus), what);
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_PCI_DEVICE, &device), what);
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_PCI_FUNCTION, &function), what);
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_SUBSYSTEM_ID, &subsystem), what);
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_FIRMWARE_VERSION, &journal.installedVersion),
          what);
    char location[32];
    std::snprintf(location, sizeof location, "%02x:%02x.%x", bus, device, function);
    journal.pciLocation = location;
    journal.subsystemId = subsystem;
    journal.installedVersionKnown = true;
    journal.world = currentWorld();
    if (journal.flashId == 0) {
        const FlashWriterLock held(handle, resource);
        const std::optional<BoardPinOut> board = readBoardPinOut(held, handle, pinOutAddress);
        if (board) journal.flashId = board->flashId;
    }
}

std::optional<FirmwareJournal> readJournalOfBoard(const std::string &path,
                                                  const std::string &resource) {
    std::optional<FirmwareJournal> journal = readJournal(path);
    if (!journal) return journal;
    FirmwareJournal now;
    {
        const Session session(resource, false);
        recordBoard(now, session.handle(), resource, journal->pinOutAddress);
    }
    // What an older journal lacks is not held against it.
    std::string differs;
    auto compare = [&](bool known, bool same, const std::string &what, const std::string &then,
                       const std::string &here) {
        if (known && !same) differs += (differs.empty() ? "" : ", ") + what + " " + then +
                                       " there, " + here + " here";
    };
    compare(!journal->world.empty(), journal->world == now.world, "world", journal->world,
            now.world);
    compare(!journal->pciLocation.empty(), journal->pciLocation == now.pciLocation,
            "PCI location", journal->pciLocation, now.pciLocation);
    compare(true, journal->subsystemId == now.subsystemId, "subsystem",
            hex(journal->subsystemId, 4), hex(now.subsystemId, 4));
    compare(journal->flashId != 0 && now.flashId != 0, journal->flashId == now.flashId, "flash",
            hex(journal->flashId, 4), hex(now.flashId, 4));
    compare(journal->installedVersionKnown, journal->installedVersion == now.installedVersion,
            "installed version", hex(journal->installedVersion, 8),
            hex(now.installedVersion, 8));
    if (differs.empty()) return journal;
    const std::string aside = path + ".other";
    if (rename(path.c_str(), aside.c_str()) != 0) {
        throw ToolError("cannot set aside the journal " + path + ": " + std::strerror(errno));
    }
    std::cout << "The journal " << path << " was written for another board or world ("
              << differs << "): it is not resumed here, and was set aside as " << aside << ".\n";
    return std::nullopt;
}

void removeJournal(const std::string &path) {
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        throw ToolError("cannot remove the journal " + path + ": " + std::strerror(errno));
    }
    const int folder = open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
}

void writeFileAtomically(const std::string &path, const std::string &contents) {
    makeDirectory(folderOf(path));
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0) throw ToolError("cannot write " + path + ": " + std::strerror(errno));
    size_t written = 0;
    bool failed = false;
    while (written < contents.size() && !failed) {
        const ssize_t n = write(fd, contents.data() + written, contents.size() - written);
        if (n < 0 && errno == EINTR) continue;
        failed = n <= 0;
        if (!failed) written += size_t(n);
    }
    failed = failed || fchmod(fd, 0600) != 0 || fsync(fd) != 0;
    const int error = errno;
    failed = close(fd) != 0 || failed;
    if (failed || rename(temporary.c_str(), path.c_str()) != 0) {
        const int cause = failed ? error : errno;
        unlink(temporary.c_str());
        throw ToolError("cannot write " + path + ": " + std::strerror(cause));
    }
    const int folder = open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);  // the rename itself reaches the disk
        close(folder);
    }
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
