#include "controlCommands.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "controlProtocol.h"
#include "worldControl.h"

namespace zelsim::launcher {
namespace {

using remote::Control;
using remote::ControlRequest;

const char kFaultUsage[] =
    "usage: zelsim fault nack NODE PORT ADDRESS         the target stops acknowledging\n"
    "       zelsim fault corrupt NODE PORT ADDRESS [MASK]\n"
    "                                                   every byte it sends xor MASK (0xFF)\n"
    "       zelsim fault errno COMMAND ERRNO [COUNT]    the next COUNT (1) requests fail\n"
    "       zelsim fault status COMMAND WORD [COUNT]    the next COUNT (1) replies carry WORD\n"
    "       zelsim fault lock NODE PORT                 the bus stays locked\n"
    "       zelsim fault clear                          every fault cleared\n"
    "ADDRESS is 7-bit (0x48), as zelsmbus takes it. COMMAND is a driver command\n"
    "number (0x0E) or name (readByte). ERRNO is a number or a name (EIO).\n"
    "Faults last until 'zelsim fault clear' or 'zelsim reset'.\n";

bool parseNumber(const char *text, long long low, long long high, long long &value) {
    char *end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 0);
    return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

bool parseErrno(const char *text, int32_t &err) {
    long long value = 0;
    if (parseNumber(text, 1, 4095, value)) {
        err = int32_t(value);
        return true;
    }
    for (int n = 1; n < 134; ++n) {
        const char *name = strerrorname_np(n);
        if (name != nullptr && std::strcmp(name, text) == 0) {
            err = n;
            return true;
        }
    }
    return false;
}

int send(const std::string &directory, const ControlRequest &request, std::string &text, int &ret) {
    if (!running(directory)) {
        std::fprintf(stderr, "zelsim: no world running (%s)\n", directory.c_str());
        return 1;
    }
    if (!ask(directory, static_cast<unsigned>(remote::kControlOp), ret, text, &request,
             sizeof request)) {
        std::fprintf(stderr, "zelsim: the world in %s does not answer\n", directory.c_str());
        return 1;
    }
    if (ret < 0) {
        std::fprintf(stderr, "zelsim: %s\n", text.c_str());
        return 1;
    }
    return 0;
}

int usage() {
    std::fputs(kFaultUsage, stderr);
    return 2;
}

}  // namespace

int faultCommand(const std::string &directory, int argc, char **argv) {
    if (argc < 1) return usage();
    const std::string kind = argv[0];
    if (argc == 1 && (kind == "--help" || kind == "-h")) {
        std::fputs(kFaultUsage, stdout);
        return 0;
    }
    ControlRequest request{};
    long long node = 0, port = 0, address = 0, number = 1;
    // NODE PORT [ADDRESS] from argv[1] on.
    auto target = [&](bool withAddress) {
        return parseNumber(argv[1], 0, 0xFFFF, node) && parseNumber(argv[2], 0, 0xFFFF, port) &&
               (!withAddress || parseNumber(argv[3], 0, 0x7F, address));
    };
    if ((kind == "nack" && argc == 4) || (kind == "corrupt" && (argc == 4 || argc == 5))) {
        if (!target(true)) return usage();
        request.what = kind == "nack" ? Control::Silence : Control::Corrupt;
        long long mask = 0xFF;
        if (argc == 5 && !parseNumber(argv[4], 1, 0xFF, mask)) return usage();
        request.value = int32_t(mask);
    } else if ((kind == "errno" || kind == "status") && (argc == 3 || argc == 4)) {
        request.what = kind == "errno" ? Control::FailCommand : Control::DriverWord;
        std::snprintf(request.command, sizeof request.command, "%s", argv[1]);
        long long word = 0;
        if (kind == "errno" ? !parseErrno(argv[2], request.value)
                            : !parseNumber(argv[2], INT32_MIN, INT32_MAX, word)) {
            std::fprintf(stderr, "zelsim fault: %s is no %s\n", argv[2],
                         kind == "errno" ? "errno number or name" : "status word");
            return 2;
        }
        if (kind == "status") request.value = int32_t(word);
        if (argc == 4 && !parseNumber(argv[3], 1, 0xFFFFFFFF, number)) return usage();
        request.count = uint32_t(number);
    } else if (kind == "lock" && argc == 3) {
        if (!target(false)) return usage();
        request.what = Control::HoldBus;
    } else if (kind == "clear" && argc == 1) {
        request.what = Control::Clear;
    } else {
        return usage();
    }
    request.node = uint32_t(node);
    request.port = uint32_t(port);
    request.address = uint32_t(address) << 1;
    std::string text;
    int ret = 0;
    return send(directory, request, text, ret);
}

int snapshotCommand(const std::string &directory) {
    ControlRequest request{};
    request.what = Control::Snapshot;
    std::string whole;
    for (;;) {
        std::string part;
        int length = 0;
        if (int status = send(directory, request, part, length); status != 0) return status;
        whole += part;
        if (part.empty() || whole.size() >= size_t(length)) break;
        request.offset = uint32_t(whole.size());
    }
    return std::fwrite(whole.data(), 1, whole.size(), stdout) == whole.size() &&
                   std::fflush(stdout) == 0
               ? 0
               : 1;
}

}  // namespace zelsim::launcher
