// The cost of the shared world: the same driver command answered by the
// in-process simulator and by a world server (what every program under the
// launcher talks to), and a full firmware update of the largest flash
// region through each. The server is started with the launcher in a
// runtime directory of this run's own and stopped at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "imageBuilder.h"
#include "zelsim.h"
#include "zelsmbus.h"

namespace {

const char kWorld[] = R"toml(
[[device]]
subsystem_id = 0x9D17
flash_id = 0x9D17
pin_out = { address = 0x100, version = 3 }
  [[device.port]]
  text = "FLASH::9D17"
    [[device.port.target]]
    address = 0x90
    kind = "registers"
    bytes = [25]
)toml";

constexpr uint32_t kLargestRegion = 0x300000;  // the 0x9D17 firmware region

// A started world for this run.
class Server {
public:
    Server() {
        char dir[] = "/tmp/zelsim-bench-XXXXXX";
        if (mkdtemp(dir) == nullptr) return;
        directory_ = dir;
        setenv("ZELSIM_RUNTIME_DIR", (directory_ + "/runtime").c_str(), 1);
        std::ofstream(directory_ + "/world.toml") << kWorld;
        std::string start =
            std::string(ZELSIM_LAUNCHER) + " start --world " + directory_ + "/world.toml";
        if (std::system(start.c_str()) == 0) socket_ = directory_ + "/runtime/world.sock";
    }
    ~Server() {
        int ignored = 0;
        if (!socket_.empty())
            ignored = std::system((std::string(ZELSIM_LAUNCHER) + " stop").c_str());
        if (!directory_.empty()) ignored = std::system(("rm -rf " + directory_).c_str());
        (void)ignored;
    }
    const std::string &socket() const { return socket_; }

private:
    std::string directory_, socket_;
};

Server &server() {
    static Server s;
    return s;
}

// Points the process at the in-process world or at the server.
bool useWorld(bool shared, benchmark::State &state) {
    if (!shared) {
        zelsim_use_server(nullptr);
        if (zelsim_load_world_text(kWorld) == 0) return true;
        state.SkipWithError(zelsim_last_error());
        return false;
    }
    if (!server().socket().empty() && zelsim_use_server(server().socket().c_str()) == 0)
        return true;
    state.SkipWithError("no world server");
    return false;
}

// Read byte 0x0E of register 0 of the sensor, with a hand-built envelope.
struct ReadByte {
    uint8_t in[12] = {0, 0, 0x90, 0};
    uint8_t out[8] = {};
    uint8_t envelope[32] = {};
    ReadByte() {
        void *i = in, *o = out;
        uint32_t inSize = sizeof in, outSize = sizeof out;
        std::memcpy(envelope, &i, 8);
        std::memcpy(envelope + 8, &o, 8);
        std::memcpy(envelope + 16, &inSize, 4);
        std::memcpy(envelope + 20, &outSize, 4);
    }
    bool run(int fd) { return ::ioctl(fd, 0x80202E0Eu, envelope) == 0 && out[0] == 25; }
};

double gInProcessNs = 0;

void readByte(benchmark::State &state) {
    const bool shared = state.range(0) != 0;
    if (!useWorld(shared, state)) return;
    int fd = ::open("/dev/zelsmbus0", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        state.SkipWithError("cannot open the node");
        return;
    }
    ReadByte command;
    auto started = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!command.run(fd)) state.SkipWithError("read byte failed");
    }
    double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - started)
                    .count() /
                double(state.iterations());
    if (!shared) gInProcessNs = ns;
    if (shared && gInProcessNs > 0) state.counters["ratio_to_in_process"] = ns / gInProcessNs;
    ::close(fd);
    zelsim_use_server(nullptr);
}
BENCHMARK(readByte)->ArgName("shared")->Arg(0)->Arg(1);

double gInProcessUpdateMs = 0;

void largestFirmwareUpdate(benchmark::State &state) {
    const bool shared = state.range(0) != 0;
    if (!useWorld(shared, state)) return;
    tSMBusHandle *handle = nullptr;
    if (ZELSMBusOpen("FLASH::9D17", &handle) != 0) {
        state.SkipWithError("cannot open the port");
        zelsim_use_server(nullptr);
        return;
    }
    std::vector<uint8_t> firmware(kLargestRegion);
    for (uint32_t i = 0; i < firmware.size(); ++i) firmware[i] = uint8_t(i * 13 + 5);
    zelsmbus_mkimage::tImageFields fields;
    fields.subsystemId = 0x9D17;
    fields.pinOutAddress = 0x100;  // outside the region, given by the world
    fields.pinOutVersion = 3;
    fields.version = 2;
    const std::string image = zelsmbus_mkimage::buildFirmwareImage(fields, firmware);
    double ms = 0;
    const unsigned long commands = zelsim_call_count(ZELSIM_CALL_IOCTL);
    const uint64_t sleeps = zelsim_nanosleep_calls();
    for (auto _ : state) {
        auto started = std::chrono::steady_clock::now();
        const int32_t code = ZELSMBusWriteFirmware(handle, uint32_t(image.size()), image.data(),
                                                   ZELSMBUS_FIRMWARE_FORCE);
        ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
                 .count();
        if (code != 0) state.SkipWithError(("update failed: " + std::to_string(code)).c_str());
    }
    ZELSMBusClose(handle);
    if (!shared) {
        // Counted by the in-process world only (the server keeps its own counts).
        gInProcessUpdateMs = ms;
        state.counters["commands"] = double(zelsim_call_count(ZELSIM_CALL_IOCTL) - commands);
        state.counters["sleeps"] = double(zelsim_nanosleep_calls() - sleeps);
    }
    state.counters["seconds"] = ms / 1000;
    if (shared && gInProcessUpdateMs > 0)
        state.counters["ratio_to_in_process"] = ms / gInProcessUpdateMs;
    zelsim_use_server(nullptr);
}
BENCHMARK(largestFirmwareUpdate)
    ->ArgName("shared")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
