#include "driverPresence.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace zelsmbus_tool {

namespace {

bool nonEmpty(const char *value) { return value != nullptr && *value != '\0'; }

// zelsim points the programs it runs at their world (ZELSIM_SERVER) and
// preloads the simulated driver.
bool runBySimulator() {
    if (nonEmpty(std::getenv("ZELSIM_SERVER"))) return true;
    const char *preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "libzelsim.so") != nullptr;
}

// Where 'zelsim start' keeps its world, as the launcher chooses it.
std::string startedWorldFolder() {
    const char *chosen = std::getenv("ZELSIM_RUNTIME_DIR");
    if (nonEmpty(chosen)) {
        if (chosen[0] == '/') return chosen;
        char here[4096];
        return std::string(::getcwd(here, sizeof here) != nullptr ? here : ".") + "/" + chosen;
    }
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (nonEmpty(runtime)) return std::string(runtime) + "/zelsim";
    return "/tmp/zelsim-" + std::to_string(::getuid());
}

// The world's server holds an exclusive lock on the folder's lock file for as
// long as it runs.
bool worldRunningIn(const std::string &folder) {
    const int fd = ::open((folder + "/world.lock").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

bool chassisLibraryLoads() {
    void *library = ::dlopen("libzelqpxi.so.1", RTLD_LAZY | RTLD_LOCAL);
    if (library == nullptr) return false;
    ::dlclose(library);
    return true;
}

}  // namespace

DriverPresence probeDriverPresence() {
    DriverPresence presence;
    presence.underSimulator = runBySimulator();
    presence.driverFolder = ::access(kDriverFolder, F_OK) == 0;
    presence.chassisLibrary = chassisLibraryLoads();
    presence.worldRunning = !presence.underSimulator && worldRunningIn(startedWorldFolder());
    return presence;
}

std::string missingDriverText(const DriverPresence &presence) {
    std::string text = std::string("no driver: ") + kDriverFolder + " does not exist";
    if (!presence.chassisLibrary) {
        text += " and the chassis-query library (libzelqpxi.so.1) cannot be loaded";
    }
    return text;
}

std::string simulatorHint(const DriverPresence &presence, const std::string &commandLine) {
    const std::string form = "'zelsim -- zelsmbus " + commandLine + "'";
    if (presence.worldRunning) {
        return "a simulated world is running ('zelsim start'); commands reach it under the "
               "simulator: " + form;
    }
    return "without the hardware, try the tools on the simulated driver: " + form;
}

}  // namespace zelsmbus_tool
