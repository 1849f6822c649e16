// The simulator's client inside programs that do what programs do: fork
// with threads running, write to pipes and sleep in signal handlers, close
// every descriptor, lose a node to dup2, leak, outlive a restart. A node's
// descriptor is its connection to the world, so its lifetime and its locks
// follow the kernel's file; and the world answers only its own user.
#include <dirent.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "sharedWorld.h"
#include "zelsim.h"

namespace {

using namespace sharedworld;

const std::string kProbe = kBuild + "/tests/zelsim_lifetime_probe";

class ClientLifetime : public SharedWorld {
protected:
    void SetUp() override {
        SharedWorld::SetUp();
        if (IsSkipped()) return;
        if (access(kProbe.c_str(), X_OK) != 0) GTEST_SKIP() << "probe not built";
    }
    // The probe under the launcher (the started world, if any); `mode` may
    // be "--in-process". A probe that hangs is stopped after 60 s.
    Result probe(const std::string &arguments, const std::string &mode = "") {
        return shell("timeout -s KILL 60 " + kLauncher + " " + mode + " --world " + world_ +
                     " -- " + kProbe + " " + arguments + " 2>&1");
    }
    Result probeStarted(const std::string &arguments) {
        return shell("timeout -s KILL 60 " + kLauncher + " -- " + kProbe + " " + arguments +
                     " 2>&1");
    }
    std::vector<std::string> probeArgv(const std::vector<std::string> &arguments) {
        std::vector<std::string> argv{kLauncher, "--", kProbe};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return argv;
    }
    // A lock taken right away: whoever held the bus is gone.
    void expectLockFreeAtOnce() {
        std::string answer = client("lock");
        EXPECT_EQ(answer.substr(0, 2), "0 ") << answer;
        long ms = -1;
        std::sscanf(answer.c_str(), "%*d %ld", &ms);
        EXPECT_LT(ms, 500) << "the lock outlived its holder";  // lock_timeout_ms is 1000
    }
};

TEST_F(ClientLifetime, ProgramsThatCloseEveryDescriptorKeepTheirOwnFilesAndSleepsReturn) {
    Result run = probe("close-range");
    EXPECT_EQ(run.out, "ok\n") << run.out;
}

TEST_F(ClientLifetime, ForkAndSignalHandlersNeverDeadlockInEitherMode) {
    for (const char *mode : {"", "--in-process"}) {
        Result fork = probe("fork-busy", mode);
        EXPECT_EQ(fork.out, "ok 0\n") << mode << ": " << fork.out;
        // Handlers write to a pipe, sleep and read a node while the thread
        // they interrupted may be inside the same calls.
        Result handlers = probe("signals", mode);
        EXPECT_EQ(handlers.out, "ok 0 0\n") << mode << ": " << handlers.out;
    }
}

// A node is the kernel's file in a world of the program's own: lost behind
// the library, its number is whatever the program puts there next and its
// lock is gone; dup copies it; flock is the kernel's. A fork from a handler
// never hangs, and a child never starts with a lock it cannot release.
TEST_F(ClientLifetime, InProcessNodesAreKernelFiles) {
    for (const char *verb : {"reuse", "dup", "flock", "fork-in-handler", "fork-beside-lock"}) {
        Result run = probe(verb, "--in-process");
        EXPECT_EQ(run.out, "ok\n") << verb << ": " << run.out;
    }
}

// A request whose envelope or buffers are bad answers EFAULT in either mode.
TEST_F(ClientLifetime, BadAddressesAnswerEFAULT) {
    for (const char *mode : {"", "--in-process"}) {
        Result run = probe("bad-pointers", mode);
        EXPECT_EQ(run.out, "ok\n") << mode << ": " << run.out;
    }
}

TEST_F(ClientLifetime, ANodeLostBehindTheLibraryReleasesItsLockAtOnce) {
    ASSERT_EQ(shell(kLauncher + " start --world " + world_).status, 0);
    for (const char *how : {"dup2", "close-range"}) {
        Child holder(probeArgv({"replace", how}));
        ASSERT_EQ(holder.line(), "replaced\n") << how;
        expectLockFreeAtOnce();
    }
}

TEST_F(ClientLifetime, AForkedChildThatClosedTheNodeDoesNotKeepADeadParentsLock) {
    ASSERT_EQ(shell(kLauncher + " start --world " + world_).status, 0);
    Child holder(probeArgv({"fork-close-hold"}));
    std::string child = holder.line();
    ASSERT_EQ(child.rfind("child ", 0), 0u) << child;
    pid_t forked = static_cast<pid_t>(std::atoi(child.c_str() + 6));
    ASSERT_EQ(holder.line(), "locked\n");
    holder.kill9();
    expectLockFreeAtOnce();
    kill(forked, SIGKILL);
}

TEST_F(ClientLifetime, AKilledProcessWhoseOtherThreadWaitsForItsLockReleasesItAtOnce) {
    ASSERT_EQ(shell(kLauncher + " start --world " + world_).status, 0);
    Child holder(probeArgv({"hold-and-wait"}));
    ASSERT_EQ(holder.line(), "locked\n");
    holder.kill9();
    expectLockFreeAtOnce();
}

TEST_F(ClientLifetime, ALockCommandWhoseNodeIsClosedMidWaitNeverLandsOnAnotherProcess) {
    ASSERT_EQ(shell(kLauncher + " start --world " + world_).status, 0);
    Child holder({kLauncher, "--", kClient, "hold"});
    ASSERT_EQ(holder.line(), "locked\n");
    Child bystander(probeArgv({"open-on-line"}));
    ASSERT_EQ(bystander.line(), "ready\n");
    Child closer(probeArgv({"close-mid-wait"}));
    ASSERT_EQ(closer.line(), "closed\n");
    // Opened after the close: on the server it may get the closed node's number.
    bystander.say("open\n");
    ASSERT_EQ(bystander.line(), "open\n");
    holder.say("unlock\n");
    EXPECT_EQ(holder.line(), "unlocked 0\n");
    std::string done = closer.line();
    EXPECT_EQ(done.rfind("done ", 0), 0u) << done;
    // The closed node's command ended and the node went with it; nobody holds the bus.
    expectLockFreeAtOnce();
}

TEST_F(ClientLifetime, RequestsThatAreNotTheDriversAnswerENOTTYWithoutReadingTheArgument) {
    for (const char *mode : {"", "--in-process"}) {
        Result run = probe("foreign-ioctl", mode);
        EXPECT_EQ(run.out, "ENOTTY ENOTTY\n") << mode << ": " << run.out;
    }
}

TEST_F(ClientLifetime, OneLeakingProgramNeverDeniesTheWorldToAnotherNorToControlCommands) {
    struct Case {
        const char *limit;  // the descriptor limit the server starts with
        const char *refused;
    };
    // 100 descriptors: 16 nodes in all, 4 for one process; unlimited: 256 for one process.
    for (const Case &c : {Case{"ulimit -n 100 && ", "4 EMFILE\n"}, Case{"", "256 EMFILE\n"}}) {
        ASSERT_EQ(shell(std::string("sh -c '") + c.limit + "exec " + kLauncher + " start --world " +
                        world_ + "'")
                      .status,
                  0);
        Child leaker(probeArgv({"leak"}));
        EXPECT_EQ(leaker.line(), c.refused) << c.limit;
        EXPECT_EQ(shell("timeout -s KILL 20 " + kLauncher + " status").status, 0) << c.limit;
        EXPECT_EQ(parseRead(shell("timeout -s KILL 20 " + kLauncher + " -- " + kClient +
                                  " read 0x90 0")
                                .out)
                      .value,
                  25u)
            << c.limit;
        leaker.kill9();
        ASSERT_EQ(shell("timeout -s KILL 20 " + kLauncher + " stop").status, 0);
    }
}

// The started world's server: its process id, or -1.
pid_t serverPid() {
    std::string status = shell(kLauncher + " status").out;
    size_t at = status.find("pid: ");
    return at == std::string::npos ? -1 : static_cast<pid_t>(std::atoi(status.c_str() + at + 5));
}

// Clock ticks of processor time a process has used.
long processorTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t end = text.rfind(')');
    if (end == std::string::npos) return -1;
    std::istringstream fields(text.substr(end + 2));
    std::string field;
    long user = 0, system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) user = std::atol(field.c_str());
        if (i == 15) system = std::atol(field.c_str());
    }
    return user + system;
}

int openDescriptors(pid_t pid) {
    int count = 0;
    DIR *dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (dir == nullptr) return -1;
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
    return count - 2;
}

TEST_F(ClientLifetime, AServerOutOfDescriptorsWaitsInsteadOfSpinningAndAnswersAgain) {
    // 40 descriptors, kept (no hard limit above to raise it to): nine
    // connections for one process, so four silent programs take them all
    // (a fifth would not start: its launcher asks the full server first).
    ASSERT_EQ(shell("sh -c 'ulimit -n 40 && exec " + kLauncher + " start --world " + world_ + "'")
                  .status,
              0);
    const pid_t server = serverPid();
    ASSERT_GT(server, 1);
    std::vector<std::unique_ptr<Child>> silent;
    for (int i = 0; i < 4; ++i) {
        silent.push_back(std::make_unique<Child>(probeArgv({"flood"})));
        ASSERT_EQ(silent.back()->line(), "flooded\n");
    }
    // The server takes the waiting connections until it has no descriptor left.
    for (int look = 0; look < 2000 && openDescriptors(server) < 40; ++look) realPause(5);
    ASSERT_EQ(openDescriptors(server), 40) << "the server was not out of descriptors";
    const long before = processorTicks(server);
    realPause(1000);  // a second of being full: measured, not waited out
    const long used = processorTicks(server) - before;
    EXPECT_LT(used, sysconf(_SC_CLK_TCK) / 2) << "the server spun on accept";
    silent.clear();  // their connections go: the server answers again
    EXPECT_EQ(shell("timeout -s KILL 30 " + kLauncher + " status").status, 0);
    EXPECT_EQ(parseRead(client("read 0x90 0")).value, 25u);
}

TEST_F(ClientLifetime, StopAnswersBeforeTheWorldEndsAndTheServerKeepsNoInheritedDescriptor) {
    for (int cycle = 0; cycle < 25; ++cycle) {
        ASSERT_EQ(shell(kLauncher + " start").status, 0) << cycle;
        ASSERT_EQ(shell(kLauncher + " stop").status, 0) << "cycle " << cycle;
    }
    // A pipe given to `start` is not held open by the world it leaves running.
    Result piped = shell("timeout -s KILL 20 sh -c '" + kLauncher + " start 3>&1 | cat'");
    EXPECT_EQ(piped.status, 0);
}

TEST_F(ClientLifetime, TheChannelMemoryCannotBeShrunkUnderTheServer) {
    ASSERT_EQ(shell(kLauncher + " start --world " + world_).status, 0);
    Child user(probeArgv({"open-wait"}));
    ASSERT_EQ(user.line(), "open\n");
    std::string status = shell(kLauncher + " status").out;
    size_t at = status.find("pid: ");
    ASSERT_NE(at, std::string::npos) << status;
    std::string fds = "/proc/" + std::to_string(std::atoi(status.c_str() + at + 5)) + "/fd";
    int channels = 0;
    DIR *dir = opendir(fds.c_str());
    ASSERT_NE(dir, nullptr);
    while (dirent *entry = readdir(dir)) {
        char target[256] = {};
        std::string link = fds + "/" + entry->d_name;
        if (readlink(link.c_str(), target, sizeof target - 1) <= 0 ||
            std::string(target).find("zelsim-channel") == std::string::npos)
            continue;
        ++channels;
        int memory = open(link.c_str(), O_RDWR);
        ASSERT_GE(memory, 0);
        EXPECT_NE(ftruncate(memory, 0), 0) << "a channel can be truncated";
        close(memory);
    }
    closedir(dir);
    EXPECT_GT(channels, 0);
    EXPECT_EQ(parseRead(client("read 0x90 0")).value, 25u);  // the server is still there
}

TEST_F(ClientLifetime, UseServerFailsForAServerThatIsNotThere) {
    ASSERT_EQ(shell(kLauncher + " start --world " + world_).status, 0);
    EXPECT_EQ(zelsim_use_server((runtime_ + "/world.sock").c_str()), 0);
    EXPECT_EQ(zelsim_use_server((scratch_ + "/none.sock").c_str()), -1);
    EXPECT_EQ(zelsim_use_server(nullptr), 0);
}

TEST_F(ClientLifetime, AProgramThatOutlivesARestartReachesTheNewWorld) {
    ASSERT_EQ(shell(kLauncher + " start --world " + world_).status, 0);
    Child program(probeArgv({"reopen"}));
    ASSERT_EQ(program.line(), "0 25\n");
    ASSERT_EQ(shell(kLauncher + " stop").status, 0);
    ASSERT_EQ(shell(kLauncher + " start --world " + world_).status, 0);
    program.say("again\n");
    EXPECT_EQ(program.line(), "0 25\n");
}

// --- A world is its user's ----------------------------------------------------

TEST_F(ClientLifetime, EveryCommandRefusesARuntimeFolderThatIsNotTheUsersOwn) {
    ASSERT_EQ(mkdir(runtime_.c_str(), 0700), 0);
    std::vector<std::string> why{"(its mode is not 0700)"};
    ASSERT_EQ(chmod(runtime_.c_str(), 0777), 0);
    if (getuid() == 0) why.push_back("belongs to another user");
    for (const std::string &reason : why) {
        if (reason == "belongs to another user") {
            ASSERT_EQ(chmod(runtime_.c_str(), 0700), 0);
            ASSERT_EQ(chown(runtime_.c_str(), 65534, 65534), 0);
        }
        for (const char *command : {"status", "stop", "reset", "start", "-- true"}) {
            Result run = shell(kLauncher + " " + command + " 2>&1");
            EXPECT_EQ(run.status, 2) << command << ": " << run.out;
            EXPECT_NE(run.out.find(reason), std::string::npos) << command << ": " << run.out;
            EXPECT_NE(run.out.find("ZELSIM_RUNTIME_DIR"), std::string::npos) << run.out;
        }
    }
}

// Runs `command` with /bin/sh as the account `nobody`; its output.
Result runAsNobody(const std::string &command) {
    int out[2];
    Result run;
    if (pipe(out) != 0) return run;
    pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        dup2(out[1], 2);
        close(out[0]);
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(126);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) run.out.append(buffer, n);
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST_F(ClientLifetime, ServerAndClientsOfDifferentUsersNeverReachEachOther) {
    if (getuid() != 0) GTEST_SKIP() << "needs root to run a second account (nobody)";
    // The scratch directory becomes reachable by others; each world's own
    // folder stays 0700 and its owner's.
    ASSERT_EQ(chmod(scratch_.c_str(), 0711), 0);
    ASSERT_EQ(chmod(world_.c_str(), 0644), 0);
    std::string theirs = scratch_ + "/theirs";
    ASSERT_EQ(mkdir(theirs.c_str(), 0700), 0);
    ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
    Result started = runAsNobody("ZELSIM_RUNTIME_DIR=" + theirs + " " + kLauncher +
                                 " start --world " + world_ + " && chmod 0711 " + theirs +
                                 " && chmod 0777 " + theirs + "/world.sock");
    ASSERT_EQ(started.status, 0) << started.out;

    // Our client refuses their server.
    Result ours = shell("ZELSIM_SERVER=" + theirs + "/world.sock timeout -s KILL 30 " + kLauncher +
                        " -- " + kProbe + " open-wait </dev/null 2>&1");
    EXPECT_NE(ours.out.find("failed"), std::string::npos) << ours.out;
    EXPECT_NE(ours.out.find("Permission denied"), std::string::npos) << ours.out;

    // Our server refuses their client: it gets no answer to a greeting.
    ASSERT_EQ(shell(kLauncher + " start --world " + world_).status, 0);
    ASSERT_EQ(chmod(runtime_.c_str(), 0711), 0);
    ASSERT_EQ(chmod((runtime_ + "/world.sock").c_str(), 0777), 0);
    pid_t child = fork();
    if (child == 0) {
        alarm(20);
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(126);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s/world.sock",
                      runtime_.c_str());
        int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) _exit(125);
        uint32_t hello[8] = {1};  // the greeting of a control connection
        // Refused: the server closes at once (the greeting cannot be sent) or never answers.
        if (send(fd, hello, sizeof hello, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof hello))
            _exit(0);
        char reply[1024];
        _exit(recv(fd, reply, sizeof reply, 0) > 0 ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "exit " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    ASSERT_EQ(chmod(runtime_.c_str(), 0700), 0);

    runAsNobody("chmod 0700 " + theirs + " && ZELSIM_RUNTIME_DIR=" + theirs + " " + kLauncher +
                " stop");
}

}  // namespace
