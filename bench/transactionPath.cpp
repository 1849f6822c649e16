// The library's own share of a transaction, against a driver that answers in a
// few nanoseconds. This program defines ioctl itself: a read-byte command (0x0E)
// on the one descriptor under test is answered here, in-process; every other
// call goes on to the simulated driver. A session opened through the simulator
// is pointed at that descriptor, and the same read-byte request, built by hand
// from the command table's layout, is issued with the raw ioctl on it. Both
// roads end in the same answer, so the ratio is the library's cost over the
// bare system-call interface with the driver's own cost taken away. The
// program links the shared library, whose calls to ioctl the dynamic linker
// binds to the definition here, as it binds them to the C library's otherwise.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <sys/ioctl.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <mutex>

#include "zelsim.h"
#include "zelsmbus.h"

namespace {

constexpr unsigned long kReadByteRequest = 0x80202E0Eul;
constexpr uint8_t kSensor = 0x90;
constexpr uint8_t kAnswer = 0x5A;
constexpr int kBatch = 256;

// The driver's request envelope and the read-byte buffers, written out here
// from the command table rather than taken from the library.
struct tEnvelope {
    uint64_t input, output;
    uint32_t inputSize, outputSize, result, reserved;
};
struct tReadByteIn {
    uint16_t port;
    uint8_t address, command, pec, pad[3];
    int32_t status;
};
struct tReadByteOut {
    uint8_t data, pad[3];
    int32_t status;
};

tEnvelope envelopeFor(tReadByteIn &in, tReadByteOut &out) {
    return {reinterpret_cast<uintptr_t>(&in),
            reinterpret_cast<uintptr_t>(&out),
            sizeof in,
            sizeof out,
            0,
            0};
}

// The descriptor whose read-byte commands are answered in-process; -1: none.
int fastDescriptor = -1;

using tIoctl = int (*)(int, unsigned long, ...);

tIoctl nextIoctl() {
    static const tIoctl next = reinterpret_cast<tIoctl>(dlsym(RTLD_NEXT, "ioctl"));
    return next;
}

// What a driver does at the least for a read-byte: take the envelope and the
// input in (a kernel copies both from user memory), check the request's sizes,
// serialise on the port's bus lock, answer the device's register and copy the
// reply and the status word out.
std::mutex portLock;

int answerReadByte(const void *argument) {
    if (argument == nullptr) return -1;
    tEnvelope envelope;
    std::memcpy(&envelope, argument, sizeof envelope);
    if (envelope.inputSize != sizeof(tReadByteIn) || envelope.outputSize != sizeof(tReadByteOut) ||
        envelope.input == 0 || envelope.output == 0)
        return -1;
    tReadByteIn in;
    std::memcpy(&in, reinterpret_cast<const void *>(envelope.input), sizeof in);
    tReadByteOut out{};
    {
        std::lock_guard<std::mutex> bus(portLock);
        out.data = in.port == 0 && in.address == kSensor ? kAnswer : 0;
    }
    std::memcpy(reinterpret_cast<void *>(envelope.output), &out, sizeof out);
    const uint32_t result = 0;
    std::memcpy(static_cast<uint8_t *>(const_cast<void *>(argument)) + offsetof(tEnvelope, result),
                &result, sizeof result);
    return 0;
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    if (fd == fastDescriptor && request == kReadByteRequest) return answerReadByte(argument);
    return nextIoctl()(fd, request, argument);
}

namespace {

// A session on port 0 of the default world's first device, with its
// descriptor answered in-process while this lives.
class tFastSession {
public:
    tFastSession() {
        zelsim_reset();
        if (ZELSMBusOpen("ZELSMBUS::SYSTEM::0::0", &handle_) != 0) return;
        // The descriptor is the one the session's next command goes out on.
        zelsim_log_clear();
        uint8_t data = 0;
        ZELSMBusReadByte(handle_, kSensor, 0, 0, &data);
        zelsim_log_record record{};
        if (zelsim_log_count() == 1 && zelsim_log_entry(0, &record) == 0)
            fastDescriptor = record.fd;
    }
    ~tFastSession() {
        fastDescriptor = -1;
        ZELSMBusClose(handle_);
    }
    tFastSession(const tFastSession &) = delete;
    tFastSession &operator=(const tFastSession &) = delete;

    bool ok() const { return fastDescriptor >= 0; }
    tSMBusHandle *handle() const { return handle_; }

    // The request as a program without the library would issue it.
    static int readByteByHand(uint8_t &value) {
        tReadByteIn in{};
        in.address = kSensor;
        tReadByteOut out{};
        tEnvelope envelope = envelopeFor(in, out);
        if (::ioctl(fastDescriptor, kReadByteRequest, &envelope) != 0) return -1;
        value = out.data;
        return out.status;
    }

private:
    tSMBusHandle *handle_ = nullptr;
};

// The driver's own answer, called directly: what the hand-issued request costs
// beyond building the envelope and the call.
void BM_FastDriverAnswer(benchmark::State &state) {
    tReadByteIn in{};
    in.address = kSensor;
    tReadByteOut out{};
    tEnvelope envelope = envelopeFor(in, out);
    for (auto _ : state) {
        benchmark::DoNotOptimize(&envelope);
        if (answerReadByte(&envelope) != 0) return state.SkipWithError("answer failed");
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FastDriverAnswer);

void BM_FastDriverByHand(benchmark::State &state) {
    tFastSession session;
    if (!session.ok()) return state.SkipWithError("setup failed");
    uint8_t value = 0;
    for (auto _ : state) {
        if (tFastSession::readByteByHand(value) != 0 || value != kAnswer)
            return state.SkipWithError("request failed");
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_FastDriverByHand);

void BM_FastDriverReadByte(benchmark::State &state) {
    tFastSession session;
    if (!session.ok()) return state.SkipWithError("setup failed");
    uint8_t value = 0;
    for (auto _ : state) {
        if (ZELSMBusReadByte(session.handle(), kSensor, 0, 0, &value) != 0 || value != kAnswer)
            return state.SkipWithError("read failed");
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_FastDriverReadByte);

// The thread's CPU time: batches that the scheduler interrupts on a loaded
// machine are not charged for the time the thread did not run.
double threadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// Alternates batches of both so they see the same machine state; the ratio is
// library time over hand-issued time, in the thread's CPU time.
void BM_FastDriverOverhead(benchmark::State &state) {
    tFastSession session;
    if (!session.ok()) return state.SkipWithError("setup failed");
    double byHand = 0, library = 0;
    uint8_t value = 0;
    int64_t calls = 0;
    for (auto _ : state) {
        const double t0 = threadCpuNs();
        for (int i = 0; i < kBatch; ++i) {
            tFastSession::readByteByHand(value);
            benchmark::DoNotOptimize(value);
        }
        const double t1 = threadCpuNs();
        for (int i = 0; i < kBatch; ++i) {
            ZELSMBusReadByte(session.handle(), kSensor, 0, 0, &value);
            benchmark::DoNotOptimize(value);
        }
        const double t2 = threadCpuNs();
        byHand += t1 - t0;
        library += t2 - t1;
        calls += kBatch;
    }
    state.counters["by_hand_ns"] = byHand / static_cast<double>(calls);
    state.counters["library_ns"] = library / static_cast<double>(calls);
    state.counters["ratio"] = library / byHand;
}
BENCHMARK(BM_FastDriverOverhead);

}  // namespace
