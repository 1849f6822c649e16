#include "stateFiles.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "failure.h"

namespace zelsmbus_tool {
namespace {

constexpr const char *kSystemFolder = "/var/lib/zelsmbus";

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
    makeStateFolder(folderOf(path));
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
    syncFolderOf(path);
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

void makeStateFolder(const std::string &path) {
    if (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return;
    if (errno == ENOENT) {
        const size_t slash = path.rfind('/');
        if (slash != std::string::npos && slash > 0) {
            makeStateFolder(path.substr(0, slash));
            if (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return;
        }
    }
    throw ToolError("cannot create the state directory " + path + ": " + std::strerror(errno),
                    std::nullopt,
                    "set XDG_STATE_HOME to a writable directory, or name the backup with --backup");
}


void syncFolderOf(const std::string &path) {
    const int folder = open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);  // a rename or removal reaches the disk
        close(folder);
    }
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
