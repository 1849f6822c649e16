// The cost of opening: ZELSMBusOpen (by the numbered names of the first and of
// the last port, and by the port text of the last port) and ZELSMBusOpenList
// in worlds of 1 to 512 ports, with the driver commands and node opens each
// call makes, also per port.
#include <benchmark/benchmark.h>

#include <string>

#include "zelsim.h"
#include "zelsmbus.h"

namespace {

constexpr int kPortsPerDevice = 8;

// `ports` ports, eight to a device, every port named "PORT<n>".
std::string worldOf(int ports) {
    std::string world;
    for (int port = 0; port < ports; ++port) {
        if (port % kPortsPerDevice == 0) {
            world += "[[device]]\nvendor_id = 0x8086\ndevice_id = 0x1234\nbus = " +
                     std::to_string(port / kPortsPerDevice + 1) + "\n";
        }
        world += "  [[device.port]]\n  text = \"PORT" + std::to_string(port) + "\"\n";
    }
    return world;
}

bool loadWorld(benchmark::State &state) {
    zelsim_reset();
    if (zelsim_load_world_text(worldOf(static_cast<int>(state.range(0))).c_str()) != 0) {
        state.SkipWithError(zelsim_last_error());
        return false;
    }
    return true;
}

// Counts what one more call costs on the wire, outside the timed loop.
template <typename Call>
void countCommands(benchmark::State &state, Call call) {
    zelsim_clear_call_counts();
    call();
    state.counters["ioctls_per_call"] = static_cast<double>(zelsim_call_count(ZELSIM_CALL_IOCTL));
    state.counters["node_opens_per_call"] =
        static_cast<double>(zelsim_call_count(ZELSIM_CALL_OPEN));
    state.counters["ioctls_per_port"] = static_cast<double>(zelsim_call_count(ZELSIM_CALL_IOCTL)) /
                                        static_cast<double>(state.range(0));
}

// The numbered name of the port that sorts last, which the selection walk
// reaches only after every other. The devices share one identity and differ in
// bus, and the location key orders by port first: with one device its ports
// are one device index, with more every port starts an index of its own.
std::string lastPortName(int ports) {
    if (ports <= kPortsPerDevice) return "ZELSMBUS::SYSTEM::0::" + std::to_string(ports - 1);
    return "ZELSMBUS::SYSTEM::" + std::to_string(ports - 1) +
           "::" + std::to_string(kPortsPerDevice - 1);
}

void openAndClose(benchmark::State &state, const std::string &name) {
    if (!loadWorld(state)) return;
    auto call = [&] {
        tSMBusHandle *handle = nullptr;
        if (ZELSMBusOpen(name.c_str(), &handle) != 0) state.SkipWithError("open failed");
        ZELSMBusClose(handle);
    };
    for (auto _ : state) call();
    countCommands(state, call);
}

#define PORT_COUNTS Arg(1)->Arg(8)->Arg(64)->Arg(512)

void BM_OpenNumbered(benchmark::State &state) { openAndClose(state, "ZELSMBUS::SYSTEM::0::0"); }
BENCHMARK(BM_OpenNumbered)->PORT_COUNTS;

void BM_OpenLastNumbered(benchmark::State &state) {
    openAndClose(state, lastPortName(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_OpenLastNumbered)->PORT_COUNTS;

void BM_OpenByPortText(benchmark::State &state) {
    openAndClose(state, "PORT" + std::to_string(state.range(0) - 1));
}
BENCHMARK(BM_OpenByPortText)->PORT_COUNTS;

void BM_OpenList(benchmark::State &state) {
    if (!loadWorld(state)) return;
    auto call = [&] {
        uint32_t count = 0;
        int32_t status = 0;
        tSMBusHandle **handles = ZELSMBusOpenList(&count, &status);
        if (handles == nullptr) state.SkipWithError("open list failed");
        ZELSMBusCloseList(count, handles);
    };
    for (auto _ : state) call();
    countCommands(state, call);
    state.counters["ports"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_OpenList)->PORT_COUNTS;

}  // namespace
