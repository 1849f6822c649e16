// A full firmware update on each flash device against the simulated driver,
// on virtual time. Reports the driver commands it took per firmware byte and
// the least the mandated procedure needs with a flash that is never busy, so
// that extra polling or traffic shows as a ratio above 1.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "zelsim.h"
#include "zelsmbus.h"

// Each bench program is built from its one source; the image builder of
// zelsmbus-mkimage comes in with it.
#include "imageBuilder.h"

namespace {

const char kWorld[] = R"toml(
[simulator]
virtual_time = true
[[device]]
subsystem_id = 0x1010
bus = 1
flash_id = 0x1010
pin_out = { address = 0x18000, version = 3 }
  [[device.port]]
  text = "FLASH::1010"
[[device]]
subsystem_id = 0xBF8E
bus = 2
flash_id = 0xBF8E
pin_out = { address = 0x100, version = 3 }
  [[device.port]]
  text = "FLASH::BF8E"
[[device]]
subsystem_id = 0x9D17
bus = 3
flash_id = 0x9D17
pin_out = { address = 0x100, version = 3 }
  [[device.port]]
  text = "FLASH::9D17"
)toml";

struct Device {
    const char *name;
    unsigned node;
    uint16_t flashId;
    uint32_t region;
    uint32_t offset;
    uint32_t pinOutAddress;  // outside the region, where the world puts the word
};

const Device kDevices[] = {{"FLASH::1010", 0, 0x1010, 0x10000, 0, 0x18000},
                           {"FLASH::BF8E", 1, 0xBF8E, 0x80000, 0x80000, 0x100},
                           {"FLASH::9D17", 2, 0x9D17, 0x300000, 0, 0x100}};

// Register accesses (one driver command each) of the procedure's pieces when
// every wait is answered at the first poll.
constexpr double kReady = 1, kCommand = 3, kFlashIdle = kCommand + 1, kIdentify = kCommand + 3;
constexpr double kPage = kCommand + 64 * kCommand + 1 + kFlashIdle;
constexpr double kIndirectStatus = 3;
constexpr double kEnable1010 = kCommand, kEnableBF8E = 3 * kCommand,
                 kEnable9D17 = 3 + kIndirectStatus;
constexpr double kIndirectWord =
    (1 + 1 + 1 + 1 + 1 + 1 + (3 + kIndirectStatus) + 1) + 3 + 1 + 1 + 1;

double minimumCommands(const Device &d, uint32_t bytes) {
    const double checks = 1 /*signature*/ + 1 /*version*/ + kIdentify + 1 /*ids*/ + kReady +
                          (d.flashId == 0x9D17 ? kIndirectWord : 2 * kCommand + 1 /*pin-out word*/);
    const double writeStart = 1 + kIdentify;
    const double serialRead = 1 + kCommand + d.region / 4.0 * 2 + d.region / 4.0 + 2;
    switch (d.flashId) {
        case 0x1010:
            return checks + serialRead /*backup*/ + writeStart +
                   2 * (kEnable1010 + 2 + kFlashIdle) + d.region / 256.0 * (kEnable1010 + kPage) +
                   kEnable1010 + serialRead;
        case 0xBF8E:
            return checks + writeStart + 8 * (kEnableBF8E + kCommand) + kCommand + kEnableBF8E +
                   kCommand + d.region / 2.0 * kCommand + kEnableBF8E + kCommand + serialRead;
        default: {
            double pages = bytes / 256 + 1;
            if (pages > d.region / 256.0) pages = d.region / 256.0;
            const double indirectRead = 1 + 3 + 1 + d.region / 2.0 * 2 + 1;
            return checks + writeStart + 49 * (kEnable9D17 + 1 + 1 + kIndirectStatus) +
                   pages * (kEnable9D17 + 2 + 128 * 2 + 1) + indirectRead +
                   (kEnable9D17 + 2 + 18 * 2 + 1);
        }
    }
}

void fullUpdate(benchmark::State &state) {
    const Device &d = kDevices[state.range(0)];
    const uint32_t bytes = uint32_t(state.range(1));
    zelsim_reset();
    if (zelsim_load_world_text(kWorld) != 0) {
        state.SkipWithError(zelsim_last_error());
        return;
    }
    tSMBusHandle *handle = nullptr;
    if (ZELSMBusOpen(d.name, &handle) != 0) {
        state.SkipWithError("cannot open the port");
        return;
    }
    std::vector<uint8_t> firmware(bytes);
    for (uint32_t i = 0; i < bytes; ++i) firmware[i] = uint8_t(i * 13 + 5);
    zelsmbus_mkimage::tImageFields fields;
    fields.subsystemId = d.flashId;
    fields.pinOutAddress = d.pinOutAddress;
    fields.pinOutVersion = 3;
    fields.offset = d.offset;
    fields.version = 2;
    const std::string image = zelsmbus_mkimage::buildFirmwareImage(fields, firmware);

    double commands = 0, virtualMs = 0;
    for (auto _ : state) {
        const unsigned long before = zelsim_call_count(ZELSIM_CALL_IOCTL);
        const uint64_t slept = zelsim_virtual_ns();
        const int32_t code = ZELSMBusWriteFirmware(handle, uint32_t(image.size()), image.data(),
                                                   ZELSMBUS_FIRMWARE_FORCE);
        if (code != 0) state.SkipWithError(("update failed: " + std::to_string(code)).c_str());
        commands = double(zelsim_call_count(ZELSIM_CALL_IOCTL) - before);
        virtualMs = double(zelsim_virtual_ns() - slept) / 1e6;
    }
    const double minimum = minimumCommands(d, bytes);
    state.counters["commands"] = commands;
    state.counters["commands_per_byte"] = commands / bytes;
    state.counters["minimum_commands"] = minimum;
    state.counters["minimum_per_byte"] = minimum / bytes;
    state.counters["over_minimum"] = commands / minimum;
    state.counters["virtual_ms"] = virtualMs;
    ZELSMBusClose(handle);
}

BENCHMARK(fullUpdate)
    ->ArgNames({"device", "bytes"})
    ->Args({0, 0x4000})
    ->Args({0, 0x10000 - 4})
    ->Args({1, 0x10000})
    ->Args({2, 0x10000})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
