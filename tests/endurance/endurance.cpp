// Endurance against the simulated driver: many open/close cycles and many
// transactions, with resident memory and open descriptors measured before
// and after. Both must end where they started (memory within one allocator
// arena's slack), or the program fails.
//
//   zelsmbus_endurance [--cycles N] [--transactions N] [--slack-kb N]
//
// Defaults are the full run: 100,000 open/close cycles and 1,000,000
// transactions. CI runs a smaller count.
#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zelsim.h"
#include "zelsmbus.h"

namespace {

int openDescriptors() {
    DIR *directory = opendir("/proc/self/fd");
    if (directory == nullptr) return -1;
    int count = 0;
    while (dirent *entry = readdir(directory))
        if (entry->d_name[0] != '.') ++count;
    closedir(directory);
    return count - 1;
}

long residentKilobytes() {
    FILE *status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return -1;
    char line[256];
    long kilobytes = -1;
    while (std::fgets(line, sizeof line, status) != nullptr)
        if (std::sscanf(line, "VmRSS: %ld kB", &kilobytes) == 1) break;
    std::fclose(status);
    return kilobytes;
}

struct tOptions {
    unsigned long cycles = 100000;
    unsigned long transactions = 1000000;
    long slackKilobytes = 256;
};

bool parse(int argc, char **argv, tOptions &options) {
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (i + 1 >= argc) return false;
        const unsigned long value = std::strtoul(argv[++i], nullptr, 10);
        if (flag == "--cycles") options.cycles = value;
        else if (flag == "--transactions") options.transactions = value;
        else if (flag == "--slack-kb") options.slackKilobytes = static_cast<long>(value);
        else return false;
    }
    return true;
}

// One open/close cycle: a session by name, the whole list, the name listing.
bool cycle(unsigned long i) {
    tSMBusHandle *handle = nullptr;
    const char *names[] = {"ZELSMBUS::SYSTEM::0::0", "ZELSMBUS::SYSTEM::0::1",
                           "ZELSMBUS::REMOTE::0::0", "HOST::SMBUS1"};
    if (ZELSMBusOpen(names[i % 4], &handle) != 0) return false;
    ZELSMBusClose(handle);
    if (i % 16 == 0) {
        uint32_t count = 0;
        int32_t status = 0;
        tSMBusHandle **all = ZELSMBusOpenList(&count, &status);
        if (all == nullptr) return false;
        ZELSMBusCloseList(count, all);
    }
    if (i % 64 == 0) {
        char *list = ZELSMBusGetResourceNameList();
        if (list == nullptr) return false;
        ZELSMBusPutResourceNameList(list);
    }
    return true;
}

// One transaction of a mix that touches every path that copies data.
bool transaction(tSMBusHandle *handle, unsigned long i) {
    uint8_t byte = 0, count = 0, block[32], bytes[256];
    uint16_t word = 0;
    uint32_t value = 0;
    switch (i % 8) {
        case 0: return ZELSMBusReadByte(handle, 0x90, 0, 0, &byte) == 0;
        case 1: return ZELSMBusReadWord(handle, 0x90, 0, 1, &word) == 0;
        case 2: return ZELSMBusReadBlock(handle, 0x90, 0x20, 0, &count, block) == 0;
        case 3: return ZELSMBusWriteByte(handle, 0x90, 2, 75, 0) == 0;
        case 4: return ZELSMBusReadBlockI2C(handle, 0xA0, 0, 64, bytes) == ZELSMBUS_WARNING_TRANSFER_DONE;
        case 5: return ZELSMBusReadI2CEEPROM(handle, 0xA0, 0, 32, bytes) == 0;
        case 6: return ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_1005, &value) == 0;
        default: return ZELSMBusQuickRead(handle, 0x02) < 0;  // nobody answers
    }
}

}  // namespace

int main(int argc, char **argv) {
    tOptions options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s [--cycles N] [--transactions N] [--slack-kb N]\n", argv[0]);
        return 2;
    }
    zelsim_reset();

    // Warm up so that the allocator, the simulator and the C library have
    // made their one-time allocations before the first measurement.
    tSMBusHandle *handle = nullptr;
    if (ZELSMBusOpen("ZELSMBUS::SYSTEM::0::0", &handle) != 0) {
        std::fprintf(stderr, "cannot open the system port\n");
        return 1;
    }
    // The same pattern as the measured loops, long enough for the simulator's
    // command log to reach the size it is cleared at.
    for (unsigned long i = 0; i < 2048; ++i) {
        cycle(i);
        if (i % 256 == 0) zelsim_log_clear();
    }
    for (unsigned long i = 0; i < 16384; ++i) {
        transaction(handle, i);
        if (i % 4096 == 0) zelsim_log_clear();
    }
    zelsim_log_clear();

    const long rssBefore = residentKilobytes();
    const int fdsBefore = openDescriptors();
    std::printf("before: resident %ld kB, descriptors %d\n", rssBefore, fdsBefore);

    unsigned long failures = 0;
    for (unsigned long i = 0; i < options.cycles; ++i) {
        if (!cycle(i)) ++failures;
        if (i % 256 == 0) zelsim_log_clear();  // the simulator logs every command
    }
    const long rssAfterCycles = residentKilobytes();
    std::printf("after %lu open/close cycles: resident %ld kB, descriptors %d\n", options.cycles,
                rssAfterCycles, openDescriptors());
    for (unsigned long i = 0; i < options.transactions; ++i) {
        if (!transaction(handle, i)) ++failures;
        if (i % 4096 == 0) zelsim_log_clear();
    }
    zelsim_log_clear();
    ZELSMBusClose(handle);
    // The handle opened before the first measurement is closed again for a
    // like-for-like count.
    ZELSMBusOpen("ZELSMBUS::SYSTEM::0::0", &handle);

    const long rssAfter = residentKilobytes();
    const int fdsAfter = openDescriptors();
    std::printf("after %lu transactions: resident %ld kB, descriptors %d\n", options.transactions,
                rssAfter, fdsAfter);
    ZELSMBusClose(handle);

    bool ok = true;
    if (failures != 0) {
        std::printf("FAIL: %lu calls did not give their expected result\n", failures);
        ok = false;
    }
    if (fdsAfter != fdsBefore) {
        std::printf("FAIL: descriptors %d -> %d\n", fdsBefore, fdsAfter);
        ok = false;
    }
    if (rssAfter - rssBefore > options.slackKilobytes) {
        std::printf("FAIL: resident memory grew by %ld kB (allowed %ld kB)\n", rssAfter - rssBefore,
                    options.slackKilobytes);
        ok = false;
    }
    std::printf("%s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
