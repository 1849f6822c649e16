// Writes a driver trace in the format `zelsim record` writes (JSON Lines: a
// header, then one request a line), made from the simulator's command log of
// a known program run in-process: every SMBus and I2C transaction, one that
// no device acknowledges, a bus lock with a transaction under it, a second
// session's lock refused while it is held, and a small flash update made of
// the library's own flash steps (identify, erase block 3, program two pages,
// read them back) on 0x1010 and the start of new firmware on 0x9D17. (A whole
// update would not fit the command log.) The decoder's tests read it; the
// expected answers are those of the simulated devices.
//
//   trace-fixture > trace.jsonl
#include <sys/syscall.h>
#include <unistd.h>
#include <zelsim.h>
#include <zelsmbus.h>

#include <cstdio>
#include <string>

#include "flash/firmwareWrite.h"
#include "flash/flashAccess.h"
#include "flash/flashScope.h"
#include "flash/tAttributeRegisterPort.h"

namespace {

const char *const kWorld = R"(
[simulator]
lock_timeout_ms = 0
[[device]]
vendor_id = 0x8086
device_id = 0x1D22
subsystem_id = 0x7270
flash_id = 0x1010
  [[device.port]]
  text = "HOST::SMBUS0"
    [[device.port.target]]
    address7 = 0x48
    kind = "registers"
    bytes = [0x19, 0x80, 0x4B, 0x50]
    blocks = [ { command = 0x10, data = [1, 2, 3] } ]
    [[device.port.target]]
    address7 = 0x50
    kind = "eeprom"
    contents = "counter"
[[device]]
vendor_id = 0x1E2D
device_id = 0x7A01
subsystem_id = 0x7A10
bus = 4
flash_id = 0x9D17
  [[device.port]]
  text = "REMOTE0"
)";

// The flash steps of an update of 0x1010's block 3, by the library's own
// primitives over the session's register attributes.
bool smallUpdate(tSMBusHandle *handle) {
    using namespace nZELSMBUS000;
    tStatus status;
    const tUnrestrictedSession unrestricted(handle, status);
    tAttributeRegisterPort port(handle);
    const uint16_t flashId = identifyFlashForWriting(port, status);
    if (flashId != kFlashId1010) return false;
    eraseConfigBlock(port, 3, status);
    uint8_t page[kFlashPageBytes];
    for (uint32_t address : {0x18000u, 0x18100u}) {
        for (uint32_t i = 0; i < kFlashPageBytes; ++i) page[i] = uint8_t(address >> 8 ^ i);
        setFlashWriteEnable(port, flashId, true, status);
        programFlashPage(port, address, page, status);
        waitFlashIdle(port, status);
    }
    for (uint32_t at = 0x18000; at < 0x18200; at += 4) readFlashWord(port, at, status);
    return !status.isFatal();
}

bool activation(tSMBusHandle *handle) {
    using namespace nZELSMBUS000;
    tStatus status;
    const tUnrestrictedSession unrestricted(handle, status);
    tAttributeRegisterPort port(handle);
    activateIndirectFirmware(port, status);
    return !status.isFatal();
}

std::string hex(const uint8_t *bytes, size_t count) {
    std::string text;
    char pair[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

bool failed(int32_t status, const char *what) {
    if (status >= 0) return false;
    std::fprintf(stderr, "trace-fixture: %s: %d\n", what, status);
    return true;
}

}  // namespace

int main() {
    if (zelsim_load_world_text(kWorld) != 0) {
        std::fprintf(stderr, "trace-fixture: %s\n", zelsim_last_error());
        return 1;
    }
    tSMBusHandle *bus = nullptr, *other = nullptr;
    if (failed(ZELSMBusOpen("ZELSMBUS::SYSTEM::0::0", &bus), "open") ||
        failed(ZELSMBusOpen("ZELSMBUS::SYSTEM::0::0", &other), "open"))
        return 1;
    zelsim_log_clear();
    const uint8_t dev = 0x90, eeprom = 0xA0;  // 7-bit 0x48 and 0x50
    uint8_t byte = 0, count = 0, block[32] = {}, big[256] = {};
    uint16_t word = 0;
    const uint8_t three[3] = {0xA1, 0xA2, 0xA3};
    bool bad = false;
    bad |= failed(ZELSMBusQuickWrite(bus, dev), "quick write");
    bad |= failed(ZELSMBusQuickRead(bus, dev), "quick read");
    bad |= failed(ZELSMBusSendByte(bus, dev, 0x02, 0), "send byte");
    bad |= failed(ZELSMBusReceiveByte(bus, dev, 0, &byte), "receive byte");
    bad |= failed(ZELSMBusWriteByte(bus, dev, 0x03, 0x51, 0), "write byte");
    bad |= failed(ZELSMBusReadByte(bus, dev, 0x01, 1, &byte), "read byte");
    bad |= failed(ZELSMBusWriteWord(bus, dev, 0x04, 0x1234, 0), "write word");
    bad |= failed(ZELSMBusReadWord(bus, dev, 0x00, 0, &word), "read word");
    bad |= failed(ZELSMBusProcessCall(bus, dev, 0x05, 0x00FF, 0, &word), "process call");
    bad |= failed(ZELSMBusWriteBlock(bus, dev, 0x20, 3, three, 1), "block write");
    bad |= failed(ZELSMBusReadBlock(bus, dev, 0x10, 0, &count, block), "block read");
    bad |= failed(ZELSMBusBlockProcessCall(bus, dev, 0x06, 3, three, 0, &count, block),
                  "block process call");
    bad |= failed(ZELSMBusWriteBlockI2C(bus, eeprom, 0x40, 3, three), "I2C block write");
    bad |= failed(ZELSMBusReadBlockI2C(bus, eeprom, 0x40, 4, block), "I2C block read");
    bad |= failed(ZELSMBusReadI2CEEPROM(bus, eeprom, 0x10, 8, big), "EEPROM read");
    // Nothing at 0x33: the driver answers that no device acknowledged.
    bad |= ZELSMBusReadByte(bus, 0x66, 0x00, 0, &byte) >= 0;
    bad |= failed(ZELSMBusLock(bus), "lock");
    bad |= failed(ZELSMBusReadByte(bus, dev, 0x02, 0, &byte), "read byte under the lock");
    bad |= ZELSMBusLock(other) >= 0;  // held by the first session: busy
    bad |= failed(ZELSMBusUnlock(bus), "unlock");
    tSMBusHandle *remote = nullptr;
    bad |= failed(ZELSMBusOpen("ZELSMBUS::REMOTE::0::0", &remote), "open the remote controller");
    if (bad) return 1;
    if (!smallUpdate(bus) || !activation(remote)) {
        std::fprintf(stderr, "trace-fixture: the flash steps failed\n");
        return 1;
    }
    if (zelsim_log_count() >= 16384) {
        std::fprintf(stderr, "trace-fixture: the command log overflowed\n");
        return 1;
    }

    const long pid = long(getpid()), tid = long(syscall(SYS_gettid));
    std::printf(
        "{\"format\":\"zelsim-trace\",\"version\":1,\"source\":\"simulator\","
        "\"program\":[\"trace-fixture\"],\"started\":\"2026-01-01T00:00:00Z\",\"extra\":{\"a\":[1]}"
        "}\n");
    const size_t n = zelsim_log_count();
    for (size_t i = 0; i < n; ++i) {
        zelsim_log_record r{};
        zelsim_command info{};
        if (zelsim_log_entry(i, &r) != 0 || zelsim_command_info(r.command, &info) != 0) return 1;
        const char *node = r.node >= 0 ? zelsim_node_path(unsigned(r.node)) : "";
        const uint32_t in = r.in_size < ZELSIM_LOG_BYTES ? r.in_size : ZELSIM_LOG_BYTES;
        const uint32_t out = r.out_written < ZELSIM_LOG_BYTES ? r.out_written : ZELSIM_LOG_BYTES;
        std::printf(
            "{\"seq\":%zu,\"t_ns\":%zu,\"pid\":%ld,\"tid\":%ld,\"node\":\"%s\",\"request\":%u,"
            "\"command\":%u,\"name\":\"%s\",\"in\":\"%s\",\"out\":\"%s\",\"errno\":%d,"
            "\"status\":%d,\"duration_ns\":500}\n",
            i + 1, 1000000 + i * 1000, pid, tid, node ? node : "", unsigned(r.request), r.command,
            info.name, hex(r.in, in).c_str(), hex(r.out, out).c_str(), r.err, int(r.driver_status));
    }
    ZELSMBusClose(remote);
    ZELSMBusClose(other);
    ZELSMBusClose(bus);
    return 0;
}
