// Programs that treat node descriptors the way real programs do (fork,
// threads, signal handlers, close_range, dup2, leaks), for the tests of the
// simulator's client (clientLifetimeTest.cpp). Each verb prints what it saw;
// a verb that hangs is caught by the test's time limit.
//   probe close-range        close_range over the library's descriptors, then sleep and reuse
//   probe fork-busy          fork while another thread keeps calling into the node
//   probe signals            node calls, pipe writes and sleeps from a signal handler
//   probe fork-close-hold    lock, fork a child that closes the node; "child PID", "locked"
//   probe close-mid-wait     close a node while its lock command waits; "closed", "done ..."
//   probe open-wait          open a node, print "open", wait for end of input
//   probe open-on-line       reach the world ("ready"), open a node on a line of input ("open")
//   probe hold-and-wait      lock on one node while another thread waits for it; "locked"
//   probe foreign-ioctl      requests that are not the driver's: "<errno> <errno>"
//   probe replace dup2|close-range   lock, then lose the node behind the library; "replaced"
//   probe leak               open nodes until refused: "<count> <errno>", wait for input
//   probe reopen             read, wait for a line, read again: "<status> <value>" twice
//   probe flood              connect to the server without a word: "flooded", wait for input
//   probe reuse              lose a locked node three ways, give its number to a pipe: "ok"
//   probe dup                a node's dup and F_DUPFD copy reach the node: "ok"
//   probe flock              a node's flock is interruptible and upgrades: "ok"
//   probe fork-in-handler    fork from handlers that interrupt node calls: "ok"
//   probe fork-beside-lock   a child forked while a thread holds the bus locks it: "ok"
//   probe bad-pointers       requests with unmapped or read-only buffers: "ok"
#include <fcntl.h>
#include <sched.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

int openNode() { return ::open("/dev/zelsmbus0", O_RDWR | O_CLOEXEC); }

// One driver command; the status word, or INT32_MIN with errno set.
int32_t command(int fd, unsigned direction, unsigned number, uint8_t *in, uint32_t inSize,
                uint8_t *out, uint32_t outSize) {
    uint32_t request = (direction << 30) | (32u << 16) | (0x2Eu << 8) | number;
    uint8_t envelope[32] = {};
    std::memcpy(envelope + 0, &in, 8);
    std::memcpy(envelope + 8, &out, 8);
    std::memcpy(envelope + 16, &inSize, 4);
    std::memcpy(envelope + 20, &outSize, 4);
    if (::ioctl(fd, request, envelope) != 0) return INT32_MIN;
    int32_t word;
    std::memcpy(&word, out + outSize - 4, 4);
    return word;
}

// Reads register 0 of the sensor at 0x90: its value, or -1.
int readSensor(int fd) {
    uint8_t in[12] = {0, 0, 0x90, 0}, out[8] = {};
    return command(fd, 2, 0x0E, in, 12, out, 8) == 0 ? out[0] : -1;
}

int32_t lockBus(int fd) {
    uint8_t in[8] = {}, out[4] = {};
    return command(fd, 1, 0x07, in, 8, out, 4);
}

void nap() {
    timespec t{0, 1000000};
    ::nanosleep(&t, nullptr);
}

// Waits until thread `tid` of this process sits in system call `number`
// (a wait of its own has begun); false when it does not within 20 s.
bool waitUntilIn(pid_t tid, long number) {
    std::string path = "/proc/self/task/" + std::to_string(tid) + "/syscall";
    for (int look = 0; look < 200000; ++look) {
        char text[32] = {};
        int fd = ::open(path.c_str(), O_RDONLY);
        ssize_t n = fd >= 0 ? ::read(fd, text, sizeof text - 1) : -1;
        if (fd >= 0) ::close(fd);
        if (n > 0 && std::strtol(text, nullptr, 10) == number) return true;
        ::sched_yield();
    }
    std::puts("the thread never began to wait");
    return false;
}

void waitForEndOfInput() {
    char line[64];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
    }
}

ino_t inodeOf(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 ? info.st_ino : 0;
}

int closeRange() {
    int node = openNode();
    nap();  // the library now has its control connection too
    if (readSensor(node) != 25) return std::puts("first read failed"), 1;
    ::syscall(SYS_close_range, 3u, ~0u, 0u);
    nap();  // must not hang on a descriptor that is gone
    ::syscall(SYS_close_range, 3u, ~0u, 0u);
    // The program's own files take the numbers the library's connections had.
    int file = ::open("/dev/null", O_RDONLY);
    int pipes[2];
    if (::pipe(pipes) != 0) return 1;
    const int own[] = {file, pipes[0], pipes[1]};
    ino_t before[3] = {};
    for (int i = 0; i < 3; ++i) before[i] = inodeOf(own[i]);
    nap();  // must not touch what took those numbers
    nap();
    for (int i = 0; i < 3; ++i) {
        // Still open, and still the same file (not a number taken again).
        if (inodeOf(own[i]) != before[i])
            return std::puts("a descriptor of the program was closed"), 1;
    }
    node = openNode();
    if (readSensor(node) != 25) return std::puts("read after close_range failed"), 1;
    std::puts("ok");
    return 0;
}

int forkBusy() {
    int node = openNode();
    std::atomic<bool> stop{false};
    std::thread busy([&] {
        while (!stop) {
            readSensor(node);
            nap();
        }
    });
    int failed = 0;
    for (int i = 0; i < 60; ++i) {
        pid_t child = ::fork();
        if (child == 0) {
            int own = openNode();
            nap();
            ::_exit(readSensor(own) == 25 && readSensor(node) == 25 ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failed;
    }
    stop = true;
    busy.join();
    std::printf("ok %d\n", failed);
    return 0;
}

int gNode = -1;
int gPipe[2];
std::atomic<int> gHandlerFaults{0};

extern "C" void onTimer(int) {
    int saved = errno;
    char byte = 1;
    if (::write(gPipe[1], &byte, 1) < 0 && errno != EAGAIN) ++gHandlerFaults;
    timespec t{0, 1};
    ::nanosleep(&t, nullptr);
    int value = readSensor(gNode);
    if (value != 25 && errno != EDEADLK) ++gHandlerFaults;
    errno = saved;
}

int signals() {
    gNode = openNode();
    if (::pipe2(gPipe, O_NONBLOCK) != 0) return 1;
    struct sigaction action {};
    action.sa_handler = onTimer;
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGALRM, &action, nullptr);
    itimerval every{{0, 300}, {0, 300}};
    ::setitimer(ITIMER_REAL, &every, nullptr);
    int wrong = 0;
    for (int i = 0; i < 3000; ++i) {
        if (readSensor(gNode) != 25) ++wrong;
        nap();
        char drain[64];
        while (::read(gPipe[0], drain, sizeof drain) > 0) {
        }
    }
    itimerval off{};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    std::printf("ok %d %d\n", wrong, gHandlerFaults.load());
    return 0;
}

int forkCloseHold() {
    int node = openNode();
    int idle[2];
    if (::pipe(idle) != 0) return 1;
    // Another thread that used the node and is still there when the process forks.
    std::atomic<pid_t> tid{0};
    std::thread([node, idle, &tid] {
        readSensor(node);
        tid = ::gettid();
        char byte;
        while (::read(idle[0], &byte, 1) != 0) {
        }
    }).detach();
    while (tid == 0) ::sched_yield();
    if (!waitUntilIn(tid, SYS_read)) return 1;
    if (lockBus(node) != 0) return 1;
    pid_t child = ::fork();
    if (child == 0) {
        ::close(node);
        nap();
        ::sleep(30);
        ::_exit(0);
    }
    std::printf("child %d\nlocked\n", static_cast<int>(child));
    std::fflush(stdout);
    waitForEndOfInput();
    return 0;
}

int closeMidWait() {
    int node = openNode();
    int32_t result = 0;
    int err = 0;
    std::atomic<pid_t> tid{0};
    std::thread waiter([&] {
        tid = ::gettid();
        result = lockBus(node);
        err = errno;
    });
    while (tid == 0) ::sched_yield();
    if (!waitUntilIn(tid, SYS_futex)) return 1;  // its command waits in the server
    ::close(node);
    std::puts("closed");
    std::fflush(stdout);
    waiter.join();
    std::printf("done %d %s\n", result, result == INT32_MIN ? std::strerror(err) : "");
    return 0;
}

int holdAndWait() {
    int held = openNode();
    if (lockBus(held) != 0) return 1;
    std::atomic<pid_t> tid{0};
    std::thread([&tid] {
        int other = openNode();
        tid = ::gettid();
        lockBus(other);  // waits for this very process's lock
    }).detach();
    while (tid == 0) ::sched_yield();
    if (!waitUntilIn(tid, SYS_futex)) return 1;
    std::puts("locked");
    std::fflush(stdout);
    waitForEndOfInput();
    return 0;
}

int foreignIoctl() {
    int node = openNode();
    errno = 0;
    int a = ::ioctl(node, TCSBRK, 1);  // the argument is a number, not an address
    int first = a < 0 ? errno : 0;
    int count = 0;
    int b = ::ioctl(node, FIONREAD, &count);
    int second = b < 0 ? errno : 0;
    std::printf("%s %s\n", strerrorname_np(first) ? strerrorname_np(first) : "0",
                strerrorname_np(second) ? strerrorname_np(second) : "0");
    return 0;
}

int replace(const std::string &how) {
    int node = openNode();
    if (lockBus(node) != 0) return 1;
    if (how == "dup2") {
        int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, node);
    } else {
        ::syscall(SYS_close_range, static_cast<unsigned>(node), static_cast<unsigned>(node), 0u);
    }
    std::puts("replaced");
    std::fflush(stdout);
    waitForEndOfInput();
    return 0;
}

// A node lost behind the library (the raw close system call, close_range,
// dup2 of another file over it) is gone with its lock; a pipe that takes its
// number is a pipe.
int reuse() {
    const char *ways[] = {"close", "close-range", "dup2"};
    for (const char *way : ways) {
        int node = openNode();
        if (node < 0 || lockBus(node) != 0) return std::printf("%s: no lock\n", way), 1;
        int pipes[2];
        if (::pipe(pipes) != 0) return 1;
        const std::string how = way;
        if (how == "close") {
            ::syscall(SYS_close, node);
        } else if (how == "close-range") {
            ::syscall(SYS_close_range, static_cast<unsigned>(node), static_cast<unsigned>(node), 0u);
        }
        if (::dup2(pipes[0], node) != node) return 1;  // "dup2" loses the node here
        if (::write(pipes[1], "x", 1) != 1) return std::printf("%s: write\n", way), 1;
        char byte = 0;
        if (::read(node, &byte, 1) != 1 || byte != 'x')
            return std::printf("%s: the pipe that took the number is not read\n", way), 1;
        uint8_t in[8] = {}, out[4] = {};
        if (command(node, 1, 0x07, in, 8, out, 4) != INT32_MIN || errno != ENOTTY)
            return std::printf("%s: the pipe answers a driver request\n", way), 1;
        // The lost node's lock went with it: another open takes it at once.
        int next = openNode();
        if (lockBus(next) != 0) return std::printf("%s: the lock outlived its node\n", way), 1;
        uint8_t unlockIn[8] = {}, unlockOut[4] = {};
        command(next, 1, 0x08, unlockIn, 8, unlockOut, 4);
        ::close(next);
        ::close(node);
        ::close(pipes[0]);
        ::close(pipes[1]);
    }
    std::puts("ok");
    return 0;
}

// A node's copies made with dup and F_DUPFD are the node, and keep it open.
int dupNode() {
    int node = openNode();
    int copy = ::dup(node);
    int high = ::fcntl(node, F_DUPFD_CLOEXEC, 100);
    if (copy < 0 || high < 100) return std::printf("dup failed: %s\n", strerrorname_np(errno)), 1;
    ::close(node);
    if (readSensor(copy) != 25 || readSensor(high) != 25) return std::puts("a copy is no node"), 1;
    std::puts("ok");
    return 0;
}

extern "C" void interrupted(int) {}

// flock on a node as the kernel's: a blocking wait ends with EINTR when a
// signal without SA_RESTART comes, and two shared holders that both ask for
// the lock alone are served in turn.
int flockNode() {
    int holder = openNode();
    int waiter = openNode();
    if (::flock(holder, LOCK_EX) != 0) return std::puts("first lock failed"), 1;
    struct sigaction action {};
    action.sa_handler = interrupted;  // no SA_RESTART
    sigaction(SIGALRM, &action, nullptr);
    itimerval shot{};
    shot.it_value.tv_usec = 200000;
    setitimer(ITIMER_REAL, &shot, nullptr);  // real time: not the simulator's clock
    errno = 0;
    if (::flock(waiter, LOCK_EX) != -1 || errno != EINTR)
        return std::printf("wait not interrupted: %s\n", strerrorname_np(errno)), 1;
    ::flock(holder, LOCK_UN);
    if (::flock(holder, LOCK_SH) != 0 || ::flock(waiter, LOCK_SH) != 0)
        return std::puts("shared locks refused"), 1;
    std::atomic<int> upgraded{0};
    std::thread first([&] {
        if (::flock(holder, LOCK_EX) == 0) ++upgraded;
        ::flock(holder, LOCK_UN);
    });
    std::thread second([&] {
        if (::flock(waiter, LOCK_EX) == 0) ++upgraded;
        ::flock(waiter, LOCK_UN);
    });
    first.join();
    second.join();
    if (upgraded != 2) return std::puts("an upgrade was not granted"), 1;
    std::puts("ok");
    return 0;
}

std::atomic<int> gForked{0};
extern "C" void forkHere(int) {
    const int savedErrno = errno;
    pid_t child = fork();
    if (child == 0) {
        readSensor(gNode);  // answers or refuses; never waits for itself
        // The system call itself: a sanitizer's bookkeeping before _exit
        // cannot tell the bounds of a handler's stack in a forked child.
        ::syscall(SYS_exit_group, 0);
    }
    if (child > 0) ++gForked;
    errno = savedErrno;
}

// A handler that forks (as crash handlers do) while the thread it
// interrupted is inside a node call: neither side may hang.
int forkInHandler() {
    gNode = openNode();
    struct sigaction action {};
    action.sa_handler = forkHere;
    action.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &action, nullptr);
    std::atomic<bool> stop{false};
    std::thread busy([&] {
        while (!stop) readSensor(gNode);
    });
    for (int i = 0; i < 300; ++i) {
        pthread_kill(busy.native_handle(), SIGUSR1);
        ::sched_yield();
    }
    stop = true;
    busy.join();
    int reaped = 0;
    while (::waitpid(-1, nullptr, 0) > 0) ++reaped;
    if (reaped != gForked.load() || reaped == 0) return std::printf("%d of %d\n", reaped, gForked.load()), 1;
    std::puts("ok");
    return 0;
}

// A child forked while another thread holds the bus starts without that
// lock: it could never see it released.
int forkBesideLock() {
    std::atomic<int> state{0};
    std::thread holder([&] {
        int node = openNode();
        if (lockBus(node) == 0) state = 1;
        while (state != 2) ::sched_yield();
    });
    while (state == 0) ::sched_yield();
    pid_t child = fork();
    if (child == 0) {
        int node = openNode();
        _exit(lockBus(node) == 0 ? 0 : 1);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    state = 2;
    holder.join();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::puts("the child found the bus locked"), 1;
    std::puts("ok");
    return 0;
}

// Bad addresses in a request answer EFAULT, as the driver does: an envelope,
// an input or an output that is not mapped, an output that is read-only, and
// a buffer unmapped after it served a request.
int badPointers() {
    int node = openNode();
    const uint32_t readByte = (2u << 30) | (32u << 16) | (0x2Eu << 8) | 0x0E;
    auto expectFault = [&](void *argument, const char *what) {
        errno = 0;
        if (::ioctl(node, readByte, argument) == 0 || errno != EFAULT)
            return std::printf("%s: %s\n", what, strerrorname_np(errno)), false;
        return true;
    };
    const long page = sysconf(_SC_PAGESIZE);
    auto *memory = static_cast<uint8_t *>(
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    uint8_t *in = memory, *out = memory + page;
    in[2] = 0x90;
    uint32_t inSize = 12, outSize = 8;
    uint8_t envelope[32] = {};
    auto pack = [&](const void *i, void *o) {
        std::memcpy(envelope + 0, &i, 8);
        std::memcpy(envelope + 8, &o, 8);
        std::memcpy(envelope + 16, &inSize, 4);
        std::memcpy(envelope + 20, &outSize, 4);
    };
    pack(in, out);
    if (::ioctl(node, readByte, envelope) != 0) return std::puts("a good request failed"), 1;
    void *unmapped = reinterpret_cast<void *>(uintptr_t{16});
    if (!expectFault(unmapped, "envelope")) return 1;
    pack(unmapped, out);
    if (!expectFault(envelope, "input")) return 1;
    pack(in, unmapped);
    if (!expectFault(envelope, "output")) return 1;
    mprotect(out, page, PROT_READ);
    pack(in, out);
    if (!expectFault(envelope, "read-only output")) return 1;
    munmap(memory, 2 * page);  // both served a request before
    if (!expectFault(envelope, "unmapped buffers")) return 1;
    std::puts("ok");
    return 0;
}

int leak() {
    std::vector<int> nodes;
    int fd;
    while ((fd = openNode()) >= 0 && nodes.size() < 5000) nodes.push_back(fd);
    std::printf("%zu %s\n", nodes.size(), fd < 0 ? strerrorname_np(errno) : "none");
    std::fflush(stdout);
    waitForEndOfInput();
    return 0;
}

// Connections to the world server that never say a word, as many as the
// server lets this process keep (it closes the rest).
int flood() {
    const char *path = std::getenv("ZELSIM_SERVER");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path == nullptr || std::strlen(path) >= sizeof address.sun_path) return 1;
    std::strcpy(address.sun_path, path);
    for (int i = 0; i < 20; ++i) {
        int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) break;
    }
    std::puts("flooded");
    std::fflush(stdout);
    waitForEndOfInput();
    return 0;
}

int reopen() {
    for (int round = 0; round < 2; ++round) {
        int node = openNode();
        int value = node < 0 ? -1 : readSensor(node);
        std::printf("%d %d\n", value < 0 ? 1 : 0, value);
        std::fflush(stdout);
        if (node >= 0) ::close(node);
        if (round == 0) {
            char line[64];
            if (std::fgets(line, sizeof line, stdin) == nullptr) return 1;
        }
    }
    return 0;
}

}  // namespace

// close-mid-wait closes a node while another thread's command on it is in
// flight, on purpose: the kernel keeps the file until that call returns,
// but ThreadSanitizer takes it for a race on the descriptor.
extern "C" const char *__tsan_default_suppressions() { return "race:closeMidWait\n"; }

int main(int argc, char **argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "close-range") return closeRange();
    if (verb == "fork-busy") return forkBusy();
    if (verb == "signals") return signals();
    if (verb == "fork-close-hold") return forkCloseHold();
    if (verb == "close-mid-wait") return closeMidWait();
    if (verb == "open-wait") {
        int node = openNode();
        std::puts(node >= 0 ? "open" : "failed");
        std::fflush(stdout);
        waitForEndOfInput();
        return 0;
    }
    if (verb == "open-on-line") {
        nap();  // connected to the world before the node is opened
        std::puts("ready");
        std::fflush(stdout);
        char line[64];
        if (std::fgets(line, sizeof line, stdin) == nullptr) return 1;
        std::puts(openNode() >= 0 ? "open" : "failed");
        std::fflush(stdout);
        waitForEndOfInput();
        return 0;
    }
    if (verb == "hold-and-wait") return holdAndWait();
    if (verb == "foreign-ioctl") return foreignIoctl();
    if (verb == "replace" && argc == 3) return replace(argv[2]);
    if (verb == "leak") return leak();
    if (verb == "reopen") return reopen();
    if (verb == "flood") return flood();
    if (verb == "reuse") return reuse();
    if (verb == "dup") return dupNode();
    if (verb == "flock") return flockNode();
    if (verb == "fork-in-handler") return forkInHandler();
    if (verb == "fork-beside-lock") return forkBesideLock();
    if (verb == "bad-pointers") return badPointers();
    return 2;
}
