// A driver client for the record and replay tests: raw requests on node 0
// (and 1), with the envelope of tests/sim/envelope.h.
//   record_probe log FILE     a mix of requests (answered, failed, a driver
//                             status word, a wrong size, a foreign ioctl);
//                             then writes the in-process world's command log
//                             to FILE, one "request in out errno status" line
//                             per command. Exits 1 when a request's errno
//                             was not the one the program should see.
//   record_probe kill N M     N requests, a forked child makes M and exits,
//                             then the probe kills itself (SIGKILL)
//   record_probe poll N       N reads of controller register 72
//   record_probe write VALUE  one write of controller register 64
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../../sim/envelope.h"
#include "zelsim.h"

namespace {

int gFailures = 0;

// One request; returns ioctl's result and leaves errno as ioctl left it.
int request(int fd, unsigned direction, unsigned number, const void *in, uint32_t inSize,
            void *out, uint32_t outSize) {
    uint8_t envelope[simtest::kEnvelopeSize];
    simtest::packEnvelope(envelope, in, inSize, out, outSize);
    return ::ioctl(fd, simtest::requestCode(direction, number), envelope);
}

// A request that must succeed without touching errno.
void expectAnswer(int fd, unsigned direction, unsigned number, const void *in, uint32_t inSize,
                  void *out, uint32_t outSize) {
    errno = 4321;
    if (request(fd, direction, number, in, inSize, out, outSize) != 0 || errno != 4321) {
        std::fprintf(stderr, "record_probe: command 0x%02x: errno %d\n", number, errno);
        ++gFailures;
    }
}

void expectErrno(int fd, unsigned direction, unsigned number, const void *in, uint32_t inSize,
                 void *out, uint32_t outSize, int err) {
    errno = 0;
    if (request(fd, direction, number, in, inSize, out, outSize) != -1 || errno != err) {
        std::fprintf(stderr, "record_probe: command 0x%02x: errno %d, expected %d\n", number,
                     errno, err);
        ++gFailures;
    }
}

template <typename F>
F simulator(const char *name) {
    void *symbol = dlsym(RTLD_DEFAULT, name);
    if (symbol == nullptr) {
        std::fprintf(stderr, "record_probe: %s: the in-process simulator is not loaded\n", name);
        std::exit(2);
    }
    return reinterpret_cast<F>(symbol);
}

std::string hex(const uint8_t *bytes, size_t n) {
    std::string text;
    char pair[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

int logMode(const char *file) {
    auto failCommand = simulator<void (*)(unsigned, int, unsigned)>("zelsim_fail_command");
    auto setStatus = simulator<void (*)(unsigned, int32_t, unsigned)>("zelsim_set_driver_status");
    auto logCount = simulator<size_t (*)()>("zelsim_log_count");
    auto logEntry = simulator<int (*)(size_t, zelsim_log_record *)>("zelsim_log_entry");
    auto commandInfo = simulator<int (*)(unsigned, zelsim_command *)>("zelsim_command_info");
    auto logClear = simulator<void (*)()>("zelsim_log_clear");
    logClear();
    int node0 = ::open("/dev/zelsmbus0", O_RDWR | O_CLOEXEC);
    int node1 = ::open("/dev/zelsmbus1", O_RDWR | O_CLOEXEC);
    if (node0 < 0 || node1 < 0) return 2;
    uint8_t in[268] = {};
    uint8_t out[260] = {};
    expectAnswer(node0, 2, 0x2F, in, 4, out, 68);          // getDeviceString
    setStatus(0x04, -52001, 1);
    expectAnswer(node0, 2, 0x04, in, 8, out, 8);           // getPortFlags: a status word
    expectAnswer(node0, 1, 0x07, in, 8, out, 4);           // lock
    uint8_t write[12] = {0, 0, 0x90, 0x02, 0x77};          // writeByte 0x48 reg 2
    expectAnswer(node0, 1, 0x0D, write, 12, out, 4);
    uint8_t read[12] = {0, 0, 0x90, 0x02};
    failCommand(0x0E, EIO, 1);
    expectErrno(node0, 2, 0x0E, read, 12, out, 8, EIO);    // readByte: failed
    expectAnswer(node0, 2, 0x0E, read, 12, out, 8);        // readByte: 0x77
    expectErrno(node0, 2, 0x0E, read, 11, out, 8, EINVAL); // wrong input size
    uint8_t eeprom[12] = {0, 0, 0xA0, 0, 64};
    expectAnswer(node0, 2, 0x17, eeprom, 12, out, 260);    // readI2CEEPROM
    int unread = 0;
    errno = 0;
    if (::ioctl(node0, FIONREAD, &unread) != -1 || errno != ENOTTY) ++gFailures;  // not the driver's
    expectAnswer(node0, 1, 0x08, in, 8, out, 4);           // unlock
    expectAnswer(node1, 2, 0x02, in, 4, out, 12);          // getPciIds on node 1
    ::close(node1);
    ::close(node0);
    FILE *log = std::fopen(file, "w");
    if (log == nullptr) return 2;
    for (size_t i = 0; i < logCount(); ++i) {
        zelsim_log_record r{};
        zelsim_command c{};
        if (logEntry(i, &r) != 0) return 2;
        // The log keeps the input only when its size is the command's.
        uint32_t inShown = commandInfo(r.command, &c) == 0 && c.in_size == r.in_size ? r.in_size : 0;
        std::fprintf(log, "%s %u %s %s %d %d\n", r.node == 0 ? "/dev/zelsmbus0" : "/dev/zelsmbus1",
                     r.request, hex(r.in, inShown).c_str(), hex(r.out, r.out_written).c_str(),
                     r.err, r.driver_status);
    }
    std::fclose(log);
    return gFailures == 0 ? 0 : 1;
}

void readBytes(int fd, int count) {
    uint8_t read[12] = {0, 0, 0x90, 0x02};
    uint8_t out[8];
    for (int i = 0; i < count; ++i) expectAnswer(fd, 2, 0x0E, read, 12, out, 8);
}

}  // namespace

int main(int argc, char **argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "log" && argc == 3) return logMode(argv[2]);
    int fd = ::open("/dev/zelsmbus0", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::perror("record_probe: /dev/zelsmbus0");
        return 2;
    }
    if (mode == "kill" && argc == 4) {
        readBytes(fd, std::atoi(argv[2]));
        pid_t child = fork();
        if (child == 0) {
            readBytes(fd, std::atoi(argv[3]));
            _exit(0);
        }
        waitpid(child, nullptr, 0);
        std::fflush(nullptr);
        raise(SIGKILL);
    }
    if (mode == "poll" && argc == 3) {
        uint8_t in[12] = {0, 0, 0, 0, 72};
        uint8_t out[8];
        for (int i = 0; i < std::atoi(argv[2]); ++i) expectAnswer(fd, 2, 0x18, in, 12, out, 8);
        return gFailures == 0 ? 0 : 1;
    }
    if (mode == "write" && argc == 3) {
        uint32_t value = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0));
        uint8_t in[16] = {0, 0, 0, 0, 64};
        std::memcpy(in + 8, &value, 4);
        uint8_t out[4];
        expectAnswer(fd, 1, 0x19, in, 16, out, 4);
        return gFailures == 0 ? 0 : 1;
    }
    std::fprintf(stderr, "usage: record_probe log FILE | kill N M | poll N | write VALUE\n");
    return 2;
}
