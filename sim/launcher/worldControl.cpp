#include "worldControl.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "messages.h"
#include "remoteProtocol.h"
#include "server.h"

namespace zelsim::launcher {
namespace {

bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

std::string lockPath(const std::string &directory) { return directory + "/world.lock"; }

void pause(int milliseconds) { ::poll(nullptr, 0, milliseconds); }

// Holds the directory's lock without waiting: a descriptor, or -1 when a
// server holds it.
int tryLock(const std::string &directory) {
    int fd = ::open(lockPath(directory).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int removeEntry(const char *path, const struct stat *, int, struct FTW *) {
    ::remove(path);
    return 0;
}

// What a server killed outright left behind: its socket and its tree.
void removeLeftovers(const std::string &directory) {
    ::unlink(socketPath(directory).c_str());
    if (DIR *dir = ::opendir(directory.c_str())) {
        while (dirent *entry = ::readdir(dir)) {
            if (std::strncmp(entry->d_name, "zelsim.", 7) != 0) continue;
            std::string path = directory + "/" + entry->d_name;
            ::nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
        }
        ::closedir(dir);
    }
}

}  // namespace

void removeWorldDirectory(const std::string &directory) {
    removeLeftovers(directory);
    ::unlink(lockPath(directory).c_str());
    ::rmdir(directory.c_str());
}

bool ownDirectory(const std::string &directory, bool quiet) {
    struct stat info {};
    if (::lstat(directory.c_str(), &info) != 0) return errno == ENOENT;  // nothing there yet
    const char *why = nullptr;
    if (!S_ISDIR(info.st_mode))
        why = "is not a directory";
    else if (info.st_uid != ::getuid())
        why = "belongs to another user";
    else if ((info.st_mode & 07777) != 0700)
        why = "can be reached by other users (its mode is not 0700)";
    if (why == nullptr) return true;
    if (!quiet) {
        std::fprintf(stderr,
                     "zelsim: %s %s, so a world in it would not be yours alone; remove it "
                     "(or, if it is yours, chmod 0700 it), or set ZELSIM_RUNTIME_DIR to a "
                     "directory of your own\n",
                     directory.c_str(), why);
    }
    return false;
}

namespace {

bool makePrivateDirectory(const std::string &path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return ownDirectory(path, false);
}

std::string identityPath(const std::string &directory) { return directory + "/zelsim.id"; }

// A new identity for the world about to start in `directory`.
void writeIdentity(const std::string &directory) {
    unsigned char bytes[16] = {};
    if (::getrandom(bytes, sizeof bytes, 0) != ssize_t(sizeof bytes)) {
        const uint64_t fallback = uint64_t(::getpid()) << 32 ^ uint64_t(::time(nullptr));
        std::memcpy(bytes, &fallback, sizeof fallback);
    }
    char text[2 * sizeof bytes + 2];
    for (size_t i = 0; i < sizeof bytes; ++i) std::snprintf(text + 2 * i, 3, "%02x", bytes[i]);
    std::ofstream(identityPath(directory)) << text << '\n';
}

}  // namespace

std::string stateFolder(const std::string &directory) { return directory + "/zelsim.state"; }

std::string worldIdentity(const std::string &directory) {
    std::ifstream file(identityPath(directory));
    std::string identity;
    std::getline(file, identity);
    return identity;
}

bool keepState(const std::string &directory, const std::string &destination) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path from = stateFolder(directory);
    if (!fs::exists(from, error)) {
        std::fprintf(stderr, "zelsim stop: the world kept no state (%s is empty)\n",
                     from.c_str());
        return true;
    }
    fs::create_directories(destination, error);
    if (!error) {
        fs::copy(from, destination,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing, error);
    }
    if (error) {
        std::fprintf(stderr, "zelsim stop: cannot keep the world's state in %s: %s\n",
                     destination.c_str(), error.message().c_str());
        return false;
    }
    return true;
}

Layout findLayout() {
    Layout layout;
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n > 0) path[n] = '\0';
    layout.self = n > 0 ? path : "zelsim";
    size_t slash = layout.self.rfind('/');
    std::string here = slash == std::string::npos ? "." : layout.self.substr(0, slash);
    // A build tree keeps the libraries next to the launcher; an installed
    // prefix keeps them in a folder of their own in its library directory,
    // off the loader's default path.
    if (exists(here + "/libzelsim.so")) {
        layout.simulatorLibrary = here + "/libzelsim.so";
        layout.chassisDirectory = here + "/qpxi";
    } else {
        std::string lib = here + "/" ZELSIM_LIBDIR_FROM_BINDIR;
        char resolved[PATH_MAX];
        if (::realpath(lib.c_str(), resolved) != nullptr) lib = resolved;
        layout.simulatorLibrary = lib + "/zelsim/libzelsim.so";
        layout.chassisDirectory = lib + "/zelsim";
    }
    return layout;
}

std::string runtimeDirectory() {
    const char *chosen = std::getenv("ZELSIM_RUNTIME_DIR");
    if (chosen != nullptr && *chosen != '\0') {
        if (chosen[0] == '/') return chosen;
        char here[PATH_MAX];
        return std::string(::getcwd(here, sizeof here) != nullptr ? here : ".") + "/" + chosen;
    }
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0') return std::string(runtime) + "/zelsim";
    return "/tmp/zelsim-" + std::to_string(::getuid());
}

std::string socketPath(const std::string &directory) { return directory + "/" ZELSIM_SOCKET_NAME; }

bool running(const std::string &directory) {
    // Never creates the lock file: a server that is ending removes it with its directory.
    int fd = ::open(lockPath(directory).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

pid_t startServer(const Layout &layout, const std::string &directory, const std::string &world,
                  Detach detach) {
    if (!makePrivateDirectory(directory)) {
        if (errno != 0 && ownDirectory(directory, true))
            std::fprintf(stderr, "zelsim: %s: %s\n", directory.c_str(), std::strerror(errno));
        return -1;
    }
    int lock = tryLock(directory);
    if (lock < 0) {
        std::fprintf(stderr, "zelsim: a world is already running in %s\n", directory.c_str());
        return -1;
    }
    removeLeftovers(directory);
    writeIdentity(directory);
    ::close(lock);  // the server takes it again for as long as it lives
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return -1;
    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        // The server keeps nothing of the caller's but the ready pipe (as
        // descriptor 3): an inherited pipe held open would keep, say,
        // `zelsim start 3>&1 | cat` from ever ending.
        if (::dup2(ready[1], 3) != 3 || ::fcntl(3, F_SETFD, 0) != 0) ::_exit(1);
        ::close_range(4, ~0U, 0);
        ready[1] = 3;
        if (detach == Detach::Yes) {
            ::setsid();
            if (::chdir("/") != 0) ::_exit(1);  // keeps no directory of the caller busy
        } else {
            ::setpgid(0, 0);  // a Ctrl-C meant for the command leaves the world alone
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent) ::_exit(1);
        }
        int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            if (detach == Detach::Yes) ::dup2(null, 2);
        }
        ::setenv("LD_PRELOAD", layout.simulatorLibrary.c_str(), 1);
        ::setenv("TMPDIR", directory.c_str(), 1);
        ::unsetenv("ZELSIM_SERVER");
        ::unsetenv("ZELSIM_WORLD");
        std::string fd = std::to_string(ready[1]);
        ::execl(layout.self.c_str(), layout.self.c_str(), "__serve", directory.c_str(),
                world.c_str(), fd.c_str(), static_cast<char *>(nullptr));
        std::string message = "cannot run " + layout.self + ": " + std::strerror(errno) + "\n";
        ssize_t ignored = ::write(ready[1], message.data(), message.size());
        (void)ignored;
        ::_exit(127);
    }
    ::close(ready[1]);
    std::string line;
    char chunk[512];
    ssize_t n;
    while ((n = ::read(ready[0], chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0) line.append(chunk, static_cast<size_t>(n));
    }
    ::close(ready[0]);
    while (!line.empty() && line.back() == '\n') line.pop_back();
    if (line == "ok") return pid;
    std::fprintf(stderr, "zelsim: %s\n",
                 line.empty() ? "the world server ended before it was ready" : line.c_str());
    ::waitpid(pid, nullptr, 0);
    return -1;
}

bool ask(const std::string &directory, unsigned op, int &ret, std::string &text, const void *data,
         uint32_t length) {
    int fd = remote::connectToServer(socketPath(directory).c_str(), true);
    if (fd < 0) {
        if (errno == EACCES)
            std::fprintf(stderr, "zelsim: the server in %s runs as another user\n",
                         directory.c_str());
        return false;
    }
    remote::Request request{};
    remote::Reply reply{};
    bool ok = true;
    for (remote::Op step : {remote::Op::Hello, static_cast<remote::Op>(op)}) {
        request.op = step;
        const uint32_t dataLength = step == remote::Op::Hello ? 0 : std::min(length, remote::kMaxData);
        if (dataLength != 0) std::memcpy(request.data, data, dataLength);
        ok = ok && remote::exchange(fd, request, dataLength, reply, remote::kGreetingTimeoutMs);
    }
    if (ok) {
        ret = reply.ret;
        if (reply.ret < 0) errno = reply.err;
        text.assign(reinterpret_cast<const char *>(reply.data), reply.dataLength);
    }
    ::close(fd);
    return ok;
}

bool stopServer(const std::string &directory) {
    int ret = 0;
    std::string text;
    if (!ask(directory, static_cast<unsigned>(remote::Op::Stop), ret, text)) return false;
    // The server lets go of the lock as it ends.
    for (int waited = 0; waited < 10000; waited += 10) {
        if (!running(directory)) return true;
        pause(10);
    }
    return false;
}

int serve(const std::string &directory, const std::string &world, int readyFd) {
    auto fail = [&](const std::string &why) {
        std::string line = why + "\n";
        ssize_t ignored = ::write(readyFd, line.data(), line.size());
        (void)ignored;
        return 2;
    };
    int lock = tryLock(directory);
    if (lock < 0) return fail("a world is already running in " + directory);
    using Serve = int (*)(const char *, const char *, int);
    auto entry = reinterpret_cast<Serve>(::dlsym(RTLD_DEFAULT, "zelsim_serve"));
    if (entry == nullptr) return fail("libzelsim.so is not loaded (LD_PRELOAD)");
    int status = entry(directory.c_str(), world.c_str(), readyFd);
    // What the world's programs kept goes with it.
    ::nftw(stateFolder(directory).c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    ::unlink(identityPath(directory).c_str());
    ::unlink(lockPath(directory).c_str());
    ::rmdir(directory.c_str());
    return status;
}

}  // namespace zelsim::launcher
