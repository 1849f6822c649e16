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
#include <fcntl.h>
#include <sched.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
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
    return 2;
}
