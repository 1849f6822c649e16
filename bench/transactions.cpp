// What a transaction through the library costs over the bare driver command:
// ZELSMBusReadByte against the same read-byte ioctl made directly on the same
// simulated node. BM_ReadByteOverhead measures both in one run, alternating
// batches, and reports their ratio.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "zelsim.h"
#include "zelsmbus.h"

namespace {

constexpr uint8_t kSensor = 0x90;  // register device on HOST::SMBUS0 of the default world
constexpr uint32_t kReadByte = 0x80202E0Eu;
constexpr int kBatch = 256;

// The driver's request envelope and the read-byte buffers, written out here
// from the command table rather than taken from the library.
struct Envelope {
    uint64_t input, output;
    uint32_t inputSize, outputSize, result, reserved;
};
struct ReadByteIn {
    uint16_t port;
    uint8_t address, command, pec, pad[3];
    int32_t status;
};
struct ReadByteOut {
    uint8_t data, pad[3];
    int32_t status;
};

class BareNode {
public:
    BareNode() : fd_(::open(zelsim_node_path(0), O_RDWR | O_CLOEXEC)) {}
    ~BareNode() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    int readByte(uint8_t &value) {
        ReadByteIn in{};
        in.address = kSensor;
        ReadByteOut out{};
        Envelope envelope{reinterpret_cast<uintptr_t>(&in),
                          reinterpret_cast<uintptr_t>(&out),
                          sizeof in,
                          sizeof out,
                          0,
                          0};
        if (::ioctl(fd_, kReadByte, &envelope) != 0) return -1;
        value = out.data;
        return out.status;
    }

private:
    int fd_;
};

class Session {
public:
    Session() { ZELSMBusOpen("HOST::SMBUS0", &handle_); }
    ~Session() { ZELSMBusClose(handle_); }
    tSMBusHandle *handle_ = nullptr;
};

void BM_BareIoctl(benchmark::State &state) {
    zelsim_reset();
    BareNode node;
    if (!node.ok()) return state.SkipWithError("cannot open the simulated node");
    uint8_t value = 0;
    for (auto _ : state) {
        if (node.readByte(value) != 0) return state.SkipWithError("ioctl failed");
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_BareIoctl);

void BM_ReadByte(benchmark::State &state) {
    zelsim_reset();
    Session session;
    if (session.handle_ == nullptr) return state.SkipWithError("cannot open HOST::SMBUS0");
    uint8_t value = 0;
    for (auto _ : state) {
        if (ZELSMBusReadByte(session.handle_, kSensor, 0, 0, &value) != 0)
            return state.SkipWithError("read failed");
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_ReadByte);

// Alternates batches of bare ioctls and library calls so both see the same
// machine state; the ratio is library time over bare time.
void BM_ReadByteOverhead(benchmark::State &state) {
    zelsim_reset();
    BareNode node;
    Session session;
    if (!node.ok() || session.handle_ == nullptr) return state.SkipWithError("setup failed");
    using Clock = std::chrono::steady_clock;
    Clock::duration bare{}, library{};
    uint8_t value = 0;
    int64_t calls = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        for (int i = 0; i < kBatch; ++i) node.readByte(value);
        const auto t1 = Clock::now();
        for (int i = 0; i < kBatch; ++i) ZELSMBusReadByte(session.handle_, kSensor, 0, 0, &value);
        const auto t2 = Clock::now();
        bare += t1 - t0;
        library += t2 - t1;
        calls += kBatch;
        benchmark::DoNotOptimize(value);
    }
    const double bareNs = std::chrono::duration<double, std::nano>(bare).count() / calls;
    const double libraryNs = std::chrono::duration<double, std::nano>(library).count() / calls;
    state.counters["bare_ns"] = bareNs;
    state.counters["library_ns"] = libraryNs;
    state.counters["ratio"] = libraryNs / bareNs;
    state.counters["overhead_pct"] = (libraryNs / bareNs - 1.0) * 100.0;
}
BENCHMARK(BM_ReadByteOverhead);

}  // namespace
