// The recorder's cost (zelsim record): the same read-byte command on the same
// node of an in-process world, once through the recorder's ioctl wrapper and
// once straight to the simulator's, in alternating batches of one run; the
// ratio is recorded time over plain time, in the thread's CPU time. The
// in-process simulator answers in about a microsecond, so this is the
// recorder's cost against the cheapest driver there is.
//
// The program starts itself again with libzelsim-record.so preloaded (in
// front of the simulator it links) and its trace in a file that is removed
// once open, so the records are written to a real file as under zelsim record.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zelsim.h"

namespace {

constexpr int kBatch = 256;

__attribute__((constructor)) void underTheRecorder() {
    if (std::getenv("ZELSIM_RECORD_FILE") != nullptr) return;
    const char *base = std::getenv("TMPDIR");
    std::string trace = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                        "/zelsim-bench-record.XXXXXX";
    int fd = mkstemp(trace.data());
    if (fd < 0) return;
    close(fd);
    setenv("ZELSIM_RECORD_FILE", trace.c_str(), 1);
    setenv("ZELSIM_BENCH_OWN_TRACE", trace.c_str(), 1);  // the one file this program removes
    setenv("ZELSIM_RECORD_COMMANDS", "14:readByte:12", 1);
    const char *old = std::getenv("LD_PRELOAD");
    std::string preload = ZELSIM_RECORDER;
    if (old != nullptr && *old != '\0') preload += std::string(":") + old;
    setenv("LD_PRELOAD", preload.c_str(), 1);
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return;
    self[n] = '\0';
    std::string cmdline;
    // Arguments again, from /proc (a constructor has no argv).
    int args = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    char buffer[8192];
    ssize_t got = args >= 0 ? read(args, buffer, sizeof buffer - 1) : -1;
    if (args >= 0) close(args);
    if (got <= 0) return;
    buffer[got] = '\0';
    char *argv[256];
    int count = 0;
    for (char *p = buffer; p < buffer + got && count < 255; p += std::strlen(p) + 1) argv[count++] = p;
    argv[count] = nullptr;
    execv(self, argv);
}

using IoctlFn = int (*)(int, unsigned long, ...);

double threadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

struct ReadByte {
    uint8_t in[12] = {0, 0, 0x90, 0x00};  // port 0, 8-bit address 0x90, register 0
    uint8_t out[8] = {};
    uint8_t envelope[32] = {};
    ReadByte() {
        const void *input = in;
        void *output = out;
        uint32_t inSize = sizeof in, outSize = sizeof out;
        std::memcpy(envelope + 0, &input, 8);
        std::memcpy(envelope + 8, &output, 8);
        std::memcpy(envelope + 16, &inSize, 4);
        std::memcpy(envelope + 20, &outSize, 4);
    }
};
constexpr unsigned long kReadByte = 0x80202E0Eul;

void BM_RecorderOverhead(benchmark::State &state) {
    const char *trace = std::getenv("ZELSIM_RECORD_FILE");
    if (trace == nullptr || dlsym(RTLD_DEFAULT, "zelsim_reset") == nullptr)
        return state.SkipWithError("not under the recorder");
    // The simulator's own ioctl, behind the recorder's.
    void *simulator = dlopen("libzelsim.so", RTLD_NOW | RTLD_NOLOAD);
    auto plainIoctl = simulator != nullptr ? reinterpret_cast<IoctlFn>(dlsym(simulator, "ioctl")) : nullptr;
    if (plainIoctl == nullptr) return state.SkipWithError("simulator's ioctl not found");
    int fd = open("/dev/zelsmbus0", O_RDWR | O_CLOEXEC);
    if (fd < 0) return state.SkipWithError("no node");
    ReadByte request;
    if (ioctl(fd, kReadByte, request.envelope) != 0) return state.SkipWithError("request failed");
    // The recorder keeps its descriptor; the disk space goes at exit.
    const char *own = std::getenv("ZELSIM_BENCH_OWN_TRACE");
    if (own != nullptr && std::strcmp(own, trace) == 0) unlink(trace);
    double plain = 0, recorded = 0;
    int64_t calls = 0;
    for (auto _ : state) {
        const double t0 = threadCpuNs();
        for (int i = 0; i < kBatch; ++i) plainIoctl(fd, kReadByte, request.envelope);
        const double t1 = threadCpuNs();
        for (int i = 0; i < kBatch; ++i) ioctl(fd, kReadByte, request.envelope);
        const double t2 = threadCpuNs();
        plain += t1 - t0;
        recorded += t2 - t1;
        calls += kBatch;
    }
    close(fd);
    state.counters["plain_ns"] = plain / static_cast<double>(calls);
    state.counters["recorded_ns"] = recorded / static_cast<double>(calls);
    state.counters["added_ns"] = (recorded - plain) / static_cast<double>(calls);
    state.counters["ratio"] = recorded / plain;
}
BENCHMARK(BM_RecorderOverhead);

}  // namespace
