// zelsim: runs programs against the simulated SMBus driver.
//
//   zelsim [--world FILE] [--] COMMAND...   run COMMAND; every process it
//                                           starts shares one world
//   zelsim --in-process [--world FILE] -- COMMAND...
//                                           every process a world of its own
//   zelsim start [--world FILE]             start a world that stays running
//   zelsim stop | reset | status            stop it, reload it, tell about it
//   zelsim snapshot | fault ...             save its state, inject faults
//
// COMMAND runs with libzelsim.so preloaded and pointed at a world server
// (ZELSIM_SERVER). Without --world: the world of the zelsim run this launcher
// itself runs in, else the started world; otherwise (and with --world) a
// private world that ends with COMMAND.
#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "controlCommands.h"
#include "remoteProtocol.h"
#include "traceCommands.h"
#include "worldControl.h"

using namespace zelsim::launcher;
using zelsim::remote::Op;

namespace {

void usage(FILE *to) {
    std::fprintf(to,
                 "usage: zelsim [--world FILE] [--in-process] [--] COMMAND [ARGUMENT...]\n"
                 "       zelsim start [--world FILE]\n"
                 "       zelsim stop [--keep-state DIR] | reset | status | snapshot\n"
                 "       zelsim fault nack|corrupt|errno|status|lock|clear ...\n"
                 "       zelsim record -o TRACE [--world FILE | --driver] [--] COMMAND...\n"
                 "       zelsim replay TRACE [--strict | --keyed] [--volatile N:R:M] [--] COMMAND...\n"
                 "Runs COMMAND with the simulated SMBus driver (libzelsim.so) preloaded.\n"
                 "Every process COMMAND starts shares one world. Without --world, COMMAND\n"
                 "joins the world of the zelsim run this launcher runs in, else the world\n"
                 "'zelsim start' left running, if any; otherwise (and with --world) it gets\n"
                 "a private world that ends with it.\n"
                 "  --world FILE  world file (TOML); default: the built-in world\n"
                 "  --in-process  no shared world: every process of COMMAND simulates a\n"
                 "                world of its own (zelsim.h's control functions act on it)\n"
                 "  start         start a world that stays running (in $ZELSIM_RUNTIME_DIR,\n"
                 "                else $XDG_RUNTIME_DIR/zelsim, else /tmp/zelsim-UID)\n"
                 "  stop          stop the running world (nothing of it is left behind)\n"
                 "  --keep-state DIR\n"
                 "                with stop: first copy what programs kept for the world\n"
                 "                (zelsmbus's firmware backups and journals) into DIR\n"
                 "  reset         put the running world back to its starting state\n"
                 "  status        print the running world's file, socket and server pid\n"
                 "  snapshot      print the running world's state as a world file\n"
                 "  fault         make a target, a request or a bus fail ('zelsim fault'\n"
                 "                alone tells how)\n"
                 "  record        write every driver request of COMMAND to a trace file\n"
                 "  replay        serve COMMAND the answers of a trace instead of a world\n");
}

void prependPath(const char *name, const std::string &entry) {
    const char *old = std::getenv(name);
    std::string value = entry;
    if (old != nullptr && *old != '\0') value += ":" + std::string(old);
    setenv(name, value.c_str(), 1);
}

// A sanitizer runtime refuses to start when it is not the first library
// loaded; the preloaded simulator comes first, which is harmless here.
void allowSanitizedPrograms() {
    const char *old = std::getenv("ASAN_OPTIONS");
    std::string value = old != nullptr ? old : "";
    if (value.find("verify_asan_link_order") != std::string::npos) return;
    value += value.empty() ? "verify_asan_link_order=0" : ":verify_asan_link_order=0";
    setenv("ASAN_OPTIONS", value.c_str(), 1);
}

bool absoluteWorld(const char *world, std::string &resolved) {
    char path[PATH_MAX];
    if (realpath(world, path) == nullptr) {
        std::fprintf(stderr, "zelsim: world file %s: %s\n", world, std::strerror(errno));
        return false;
    }
    resolved = path;
    return true;
}

[[noreturn]] void runCommand(const Layout &layout, const std::string &socket,
                             const std::string &world, char **command) {
    setenv("ZELSIM_SERVER", socket.c_str(), 1);
    // What the programs keep for this world (zelsmbus's firmware backups and
    // journals) lives in the world's folder and goes with it, unless the
    // caller names a folder of its own; the identity tells one world from
    // the next.
    const std::string directory = socket.substr(0, socket.rfind('/'));
    setenv("ZELSIM_STATE_DIR", stateFolder(directory).c_str(), 0);
    const std::string identity = worldIdentity(directory);
    if (identity.empty())
        unsetenv("ZELSIM_WORLD_ID");
    else
        setenv("ZELSIM_WORLD_ID", identity.c_str(), 1);
    if (world.empty())
        unsetenv("ZELSIM_WORLD");
    else
        setenv("ZELSIM_WORLD", world.c_str(), 1);
    prependPath("LD_PRELOAD", layout.simulatorLibrary);
    prependPath("LD_LIBRARY_PATH", layout.chassisDirectory);
    execvp(command[0], command);
    std::fprintf(stderr, "zelsim: cannot run %s: %s\n", command[0], std::strerror(errno));
    _exit(127);
}

int exitStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

// COMMAND in a world of its own, stopped when COMMAND ends.
int runPrivate(const Layout &layout, const std::string &world, char **command) {
    const char *base = std::getenv("TMPDIR");
    std::string templ =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/zelsim-run.XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) {
        std::fprintf(stderr, "zelsim: cannot make %s: %s\n", templ.c_str(), std::strerror(errno));
        return 2;
    }
    pid_t server = startServer(layout, templ, world, Detach::No);
    if (server < 0) {
        removeWorldDirectory(templ);
        return 2;
    }
    // Like system(): the terminal's signals are for the command.
    signal(SIGINT, SIG_IGN);
    signal(SIGQUIT, SIG_IGN);
    pid_t child = fork();
    if (child == 0) {
        signal(SIGINT, SIG_DFL);
        signal(SIGQUIT, SIG_DFL);
        runCommand(layout, socketPath(templ), world, command);
    }
    int status = 0;
    if (child < 0) {
        std::fprintf(stderr, "zelsim: cannot fork: %s\n", std::strerror(errno));
        status = 2 << 8;
    } else {
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (!stopServer(templ)) kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    removeWorldDirectory(templ);
    return child < 0 ? 2 : exitStatus(status);
}

// The launcher's "__check FILE" mode, run with libzelsim.so preloaded: loads
// the world file and tells why it cannot be used. A normal exit lets the
// library remove the tree it wrote.
int checkWorld(const char *file) {
    using Load = int (*)(const char *);
    using LastError = const char *(*)();
    auto load = reinterpret_cast<Load>(dlsym(RTLD_DEFAULT, "zelsim_load_world_file"));
    auto lastError = reinterpret_cast<LastError>(dlsym(RTLD_DEFAULT, "zelsim_last_error"));
    if (load == nullptr || lastError == nullptr) {
        std::fprintf(stderr, "zelsim: libzelsim.so is not loaded (LD_PRELOAD)\n");
        return 2;
    }
    if (load(file) == 0) return 0;
    std::fprintf(stderr, "zelsim: %s: %s\n", file, lastError());
    return 2;
}

// COMMAND with a world of its own in every process (the old way: the control
// interface of zelsim.h then acts on the world the process uses).
int runInProcess(const Layout &layout, const std::string &world, char **command) {
    if (!world.empty()) {
        pid_t checker = fork();
        if (checker == 0) {
            setenv("LD_PRELOAD", layout.simulatorLibrary.c_str(), 1);
            unsetenv("ZELSIM_SERVER");
            unsetenv("ZELSIM_WORLD");
            execl(layout.self.c_str(), layout.self.c_str(), "__check", world.c_str(),
                  static_cast<char *>(nullptr));
            _exit(127);
        }
        int status = 0;
        if (checker < 0 || waitpid(checker, &status, 0) < 0 || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            return 2;
        }
        setenv("ZELSIM_WORLD", world.c_str(), 1);
    } else {
        unsetenv("ZELSIM_WORLD");
    }
    unsetenv("ZELSIM_SERVER");
    // Every process a world of its own: no world's identity or state folder
    // is theirs (a state folder the caller names stays).
    unsetenv("ZELSIM_WORLD_ID");
    prependPath("LD_PRELOAD", layout.simulatorLibrary);
    prependPath("LD_LIBRARY_PATH", layout.chassisDirectory);
    execvp(command[0], command);
    std::fprintf(stderr, "zelsim: cannot run %s: %s\n", command[0], std::strerror(errno));
    return 127;
}

int control(const std::string &verb, const char *keepStateIn) {
    std::string directory = runtimeDirectory();
    if (!ownDirectory(directory, false)) return 2;
    if (!running(directory)) {
        if (verb == "status") {
            std::printf("no world running (%s)\n", directory.c_str());
            return 1;
        }
        std::fprintf(stderr, "zelsim %s: no world running (%s)\n", verb.c_str(), directory.c_str());
        return 1;
    }
    if (verb == "stop") {
        if (keepStateIn != nullptr && !keepState(directory, keepStateIn)) return 1;
        if (stopServer(directory)) return 0;
        std::fprintf(stderr, "zelsim stop: the world in %s did not stop\n", directory.c_str());
        return 1;
    }
    int ret = 0;
    std::string text;
    Op op = verb == "reset" ? Op::Reset : Op::Info;
    if (!ask(directory, static_cast<unsigned>(op), ret, text)) {
        std::fprintf(stderr, "zelsim %s: the world in %s does not answer\n", verb.c_str(),
                     directory.c_str());
        return 1;
    }
    if (verb == "reset") {
        if (ret == 0) return 0;
        std::fprintf(stderr, "zelsim reset: %s\n", text.c_str());
        return 1;
    }
    std::printf("world: %s\nsocket: %s\npid: %d\n", text.empty() ? "(built-in)" : text.c_str(),
                socketPath(directory).c_str(), ret);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 3 && std::strcmp(argv[1], "__check") == 0) return checkWorld(argv[2]);
    if (argc == 5 && std::strcmp(argv[1], "__serve") == 0) {
        int status = serve(argv[2], argv[3], std::atoi(argv[4]));
        std::fflush(nullptr);
        _exit(status);  // connection threads may still be ending
    }
    if (argc >= 2 && std::strcmp(argv[1], "fault") == 0)
        return faultCommand(runtimeDirectory(), argc - 2, argv + 2);
    if (argc >= 2 && (std::strcmp(argv[1], "record") == 0 || std::strcmp(argv[1], "replay") == 0 ||
                      std::strcmp(argv[1], "__record") == 0)) {
        allowSanitizedPrograms();
        Layout layout = findLayout();
        if (argv[1][0] == '_') return recordInner(layout, argc - 2, argv + 2);
        return argv[1][2] == 'c' ? recordCommand(layout, argc - 2, argv + 2)
                                 : replayCommand(layout, argc - 2, argv + 2);
    }
    if (argc == 2 && std::strcmp(argv[1], "snapshot") == 0)
        return snapshotCommand(runtimeDirectory());
    if (argc == 3 && std::strcmp(argv[1], "snapshot") == 0 &&
        (std::strcmp(argv[2], "--help") == 0 || std::strcmp(argv[2], "-h") == 0)) {
        usage(stdout);
        return 0;
    }
    std::string verb;
    int i = 1;
    if (i < argc && (std::strcmp(argv[i], "start") == 0 || std::strcmp(argv[i], "stop") == 0 ||
                     std::strcmp(argv[i], "reset") == 0 || std::strcmp(argv[i], "status") == 0)) {
        verb = argv[i++];
    }
    const char *world = nullptr;
    const char *keepStateIn = nullptr;
    bool inProcess = false;
    for (; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            ++i;
            break;
        }
        if (std::strcmp(argv[i], "--world") == 0 && i + 1 < argc) {
            world = argv[++i];
        } else if (std::strncmp(argv[i], "--world=", 8) == 0) {
            world = argv[i] + 8;
        } else if (std::strcmp(argv[i], "--keep-state") == 0 && verb == "stop" && i + 1 < argc) {
            keepStateIn = argv[++i];
        } else if (std::strcmp(argv[i], "--in-process") == 0 && verb.empty()) {
            inProcess = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            usage(stdout);
            return 0;
        } else if (argv[i][0] == '-' || !verb.empty()) {
            std::fprintf(stderr, "zelsim: unknown option %s\n", argv[i]);
            usage(stderr);
            return 2;
        } else {
            break;  // the command starts here (no "--" given)
        }
    }
    std::string worldFile;
    if (world != nullptr && !absoluteWorld(world, worldFile)) return 2;
    Layout layout = findLayout();
    allowSanitizedPrograms();

    if (verb == "start") {
        if (i < argc) {
            usage(stderr);
            return 2;
        }
        return startServer(layout, runtimeDirectory(), worldFile, Detach::Yes) < 0 ? 2 : 0;
    }
    if (!verb.empty()) {
        if (world != nullptr || i < argc) {
            usage(stderr);
            return 2;
        }
        return control(verb, keepStateIn);
    }
    if (i >= argc) {
        usage(stderr);
        return 2;
    }
    if (inProcess) return runInProcess(layout, worldFile, argv + i);
    // Inside a zelsim run already: the command joins that run's world.
    const char *outer = std::getenv("ZELSIM_SERVER");
    if (world == nullptr && outer != nullptr && *outer != '\0' && access(outer, F_OK) == 0) {
        const char *file = std::getenv("ZELSIM_WORLD");
        runCommand(layout, outer, file != nullptr ? file : "", argv + i);
    }
    std::string directory = runtimeDirectory();
    if (world == nullptr && !ownDirectory(directory, false)) return 2;
    if (world == nullptr && running(directory)) {
        int ret = 0;
        std::string startedWith;
        if (!ask(directory, static_cast<unsigned>(Op::Info), ret, startedWith)) {
            std::fprintf(stderr, "zelsim: the world in %s does not answer\n", directory.c_str());
            return 2;
        }
        runCommand(layout, socketPath(directory), startedWith, argv + i);
    }
    return runPrivate(layout, worldFile, argv + i);
}
