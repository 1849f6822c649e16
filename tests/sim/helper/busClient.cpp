// A driver client for the shared-world tests: raw open/ioctl/close on node 0,
// port 0, with the request envelope of envelope.h. Prints one line per answer.
//   bus_client write ADDRESS COMMAND VALUE   write a byte register
//   bus_client read ADDRESS COMMAND          "<status> <value> <elapsed ms>"
//   bus_client lock                          "<status> <elapsed ms>"
//   bus_client thread-read ADDRESS COMMAND   opens the node in a thread that
//                                            ends, then reads as "read" does
//   bus_client qpxi                          loads the chassis-query library:
//                                            "ok" or why not
//   bus_client watch ADDRESS COMMAND N       reads N times (reopening a node a
//                                            reset made stale); prints every
//                                            distinct value seen, "0x42 0x19"
//   bus_client hold                          lock, print "locked", then obey
//                                            stdin lines ("unlock"); exits at
//                                            end of input without closing
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "../envelope.h"

namespace {

int32_t command(int fd, unsigned direction, unsigned number, uint8_t *in, uint32_t inSize,
                uint8_t *out, uint32_t outSize) {
    uint8_t envelope[simtest::kEnvelopeSize];
    simtest::packEnvelope(envelope, in, inSize, out, outSize);
    if (::ioctl(fd, simtest::requestCode(direction, number), envelope) != 0) {
        std::perror("ioctl");
        std::exit(1);
    }
    int32_t word;
    std::memcpy(&word, out + outSize - 4, 4);
    return word;
}

int32_t lockBus(int fd) {
    uint8_t in[8] = {}, out[4] = {};
    return command(fd, 1, 0x07, in, 8, out, 4);
}

long elapsedMs(std::chrono::steady_clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - since)
                                 .count());
}

}  // namespace

int main(int argc, char **argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 2) return 2;
    std::string verb = argv[1];
    if (verb == "qpxi") {
        void *library = ::dlopen("libzelqpxi.so.1", RTLD_NOW);
        std::printf("%s\n", library != nullptr ? "ok" : ::dlerror());
        return library != nullptr ? 0 : 1;
    }
    int fd = -1;
    if (verb == "thread-read") {
        std::thread([&fd] { fd = ::open("/dev/zelsmbus0", O_RDWR | O_CLOEXEC); }).join();
        // Long enough for the server to see the thread's connection go; a
        // poll on a pipe waits for real (a sleep would be counted on the
        // world's virtual clock and return at once).
        int quiet[2];
        if (::pipe(quiet) == 0) {
            pollfd never{quiet[0], POLLIN, 0};
            ::poll(&never, 1, 200);
            ::close(quiet[0]);
            ::close(quiet[1]);
        }
        verb = "read";
    } else {
        fd = ::open("/dev/zelsmbus0", O_RDWR | O_CLOEXEC);
    }
    if (fd < 0) {
        std::perror("/dev/zelsmbus0");
        return 1;
    }
    if (verb == "watch" && argc == 5) {
        bool seen[256] = {};
        for (long n = std::strtol(argv[4], nullptr, 0); n > 0; --n) {
            uint8_t in[12] = {}, out[8] = {};
            in[2] = static_cast<uint8_t>(std::strtoul(argv[2], nullptr, 0));
            in[3] = static_cast<uint8_t>(std::strtoul(argv[3], nullptr, 0));
            uint8_t *inAddress = in, *outAddress = out;
            uint32_t inSize = 12, outSize = 8;
            uint8_t envelope[32] = {};
            std::memcpy(envelope + 0, &inAddress, 8);
            std::memcpy(envelope + 8, &outAddress, 8);
            std::memcpy(envelope + 16, &inSize, 4);
            std::memcpy(envelope + 20, &outSize, 4);
            if (::ioctl(fd, (2u << 30) | (32u << 16) | (0x2Eu << 8) | 0x0E, envelope) != 0) {
                ::close(fd);  // stale after a reset: open the new world's node
                fd = ::open("/dev/zelsmbus0", O_RDWR | O_CLOEXEC);
                if (fd < 0) return 1;
                continue;
            }
            seen[out[0]] = true;
        }
        for (int value = 0; value < 256; ++value)
            if (seen[value]) std::printf("0x%02x ", value);
        std::printf("\n");
        return 0;
    }
    auto started = std::chrono::steady_clock::now();
    if (verb == "write" && argc == 5) {
        uint8_t in[12] = {}, out[4] = {};
        in[2] = static_cast<uint8_t>(std::strtoul(argv[2], nullptr, 0));
        in[3] = static_cast<uint8_t>(std::strtoul(argv[3], nullptr, 0));
        in[4] = static_cast<uint8_t>(std::strtoul(argv[4], nullptr, 0));
        std::printf("%d\n", command(fd, 1, 0x0D, in, 12, out, 4));
    } else if (verb == "read" && argc == 4) {
        uint8_t in[12] = {}, out[8] = {};
        in[2] = static_cast<uint8_t>(std::strtoul(argv[2], nullptr, 0));
        in[3] = static_cast<uint8_t>(std::strtoul(argv[3], nullptr, 0));
        int32_t word = command(fd, 2, 0x0E, in, 12, out, 8);
        std::printf("%d 0x%02x %ld\n", word, out[0], elapsedMs(started));
    } else if (verb == "lock") {
        int32_t word = lockBus(fd);
        std::printf("%d %ld\n", word, elapsedMs(started));
    } else if (verb == "hold") {
        if (lockBus(fd) != 0) return 1;
        std::printf("locked\n");
        char line[64];
        while (std::fgets(line, sizeof line, stdin) != nullptr) {
            if (std::strncmp(line, "unlock", 6) == 0) {
                uint8_t in[8] = {}, out[4] = {};
                std::printf("unlocked %d\n", command(fd, 1, 0x08, in, 8, out, 4));
            }
        }
        ::_exit(0);  // the descriptor is left open on purpose
    } else {
        return 2;
    }
    ::close(fd);
    return 0;
}
