// zelsim [--world FILE] -- COMMAND...
// Runs COMMAND against the simulated driver: libzelsim.so preloaded, the
// world file named in ZELSIM_WORLD, and the stand-in chassis-query library
// first on the library path.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void usage(FILE *to) {
    std::fprintf(to,
                 "usage: zelsim [--world FILE] -- COMMAND [ARGUMENT...]\n"
                 "Runs COMMAND with the simulated SMBus driver (libzelsim.so) preloaded.\n"
                 "  --world FILE  world file (TOML) to simulate; default: the built-in world\n");
}

std::string ownDirectory() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    path[n] = '\0';
    std::string text(path);
    size_t slash = text.rfind('/');
    return slash == std::string::npos ? std::string(".") : text.substr(0, slash);
}

bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

// The library next to this program in the build tree, else the installed one.
std::string simulatorLibrary(const std::string &here) {
    if (exists(here + "/libzelsim.so")) return here + "/libzelsim.so";
    if (exists(ZELSIM_INSTALL_LIB)) return ZELSIM_INSTALL_LIB;
    return ZELSIM_BUILD_LIB;
}

std::string chassisLibraryDirectory(const std::string &here) {
    if (exists(here + "/qpxi")) return here + "/qpxi";
    if (exists(ZELSIM_INSTALL_QPXI_DIR)) return ZELSIM_INSTALL_QPXI_DIR;
    return ZELSIM_BUILD_QPXI_DIR;
}

void prependPath(const char *name, const std::string &entry, char separator) {
    const char *old = std::getenv(name);
    std::string value = entry;
    if (old != nullptr && *old != '\0') value += separator + std::string(old);
    setenv(name, value.c_str(), 1);
}

}  // namespace

int main(int argc, char **argv) {
    const char *world = nullptr;
    int i = 1;
    for (; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            ++i;
            break;
        }
        if (std::strcmp(argv[i], "--world") == 0 && i + 1 < argc) {
            world = argv[++i];
        } else if (std::strncmp(argv[i], "--world=", 8) == 0) {
            world = argv[i] + 8;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            usage(stdout);
            return 0;
        } else {
            break;  // the command starts here (no "--" given)
        }
    }
    if (i >= argc) {
        usage(stderr);
        return 2;
    }
    if (world != nullptr) {
        char resolved[PATH_MAX];
        if (realpath(world, resolved) == nullptr) {
            std::fprintf(stderr, "zelsim: world file %s: %s\n", world, std::strerror(errno));
            return 2;
        }
        setenv("ZELSIM_WORLD", resolved, 1);
    }
    std::string here = ownDirectory();
    prependPath("LD_PRELOAD", simulatorLibrary(here), ':');
    prependPath("LD_LIBRARY_PATH", chassisLibraryDirectory(here), ':');
    execvp(argv[i], argv + i);
    std::fprintf(stderr, "zelsim: cannot run %s: %s\n", argv[i], std::strerror(errno));
    return 127;
}
