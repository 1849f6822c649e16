// zelsmbus firmware: check an image, then replace a controller's firmware with it.
#include <zelsmbus.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "boardPinOut.h"
#include "commands.h"
#include "confirm.h"
#include "failure.h"
#include "firmwareImage.h"
#include "options.h"
#include "session.h"
#include "utf8Text.h"

namespace zelsmbus_tool {
namespace {

struct FirmwareArgs {
    std::string resource, image;
    bool force = false;
};

// No image can be larger than this. The largest firmware region is the 3 MiB
// (0x300000 bytes) of flash device 0x9D17; in Base64 (4 characters for every 3
// bytes) that is 4 MiB. On top: a line feed every 64 characters, which the
// payload may carry and the decoder skips (64 KiB), and 64 KiB for the header.
constexpr size_t kLargestRegion = 0x300000;
constexpr size_t kLargestPayload = (kLargestRegion + 2) / 3 * 4;
constexpr size_t kLargestImage = kLargestPayload + kLargestPayload / 64 + 0x10000;
static_assert(kLargestImage == 4325376, "4 MiB of Base64, 64 KiB of line feeds, 64 KiB header");

// Reads the image, but never more than an image can be: a device or a huge file
// named by mistake (/dev/zero) ends the command at once.
std::string readFile(const std::string &path) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) throw ToolError("cannot read the image " + path + ": " + std::strerror(errno));
    std::string text(kLargestImage + 1, '\0');
    const size_t got = std::fread(&text[0], 1, text.size(), file);
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    std::fclose(file);
    if (failed) throw ToolError("cannot read the image " + path + ": " + std::strerror(error));
    if (got > kLargestImage) {
        throw ToolError("the image " + path +
                        " is larger than any firmware image can be (at most " +
                        std::to_string(kLargestImage) + " bytes)");
    }
    text.resize(got);
    return text;
}

std::string hex8(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

void printHeader(const std::string &path, const FirmwareCheck &check) {
    const FirmwareHeader &h = check.header;
    std::cout << "Image " << path << ":\n"
              << "  header version:   " << h.headerVersion << '\n'
              << "  update type:      " << terminalSafe(h.updateType) << '\n'
              << "  firmware version: " << hex8(h.version) << '\n'
              << "  subsystem:        " << hex4(h.subsystemId) << '\n'
              << "  pin-out:          version " << h.pinOutVersion << " at "
              << hex8(h.pinOutAddress) << '\n'
              << "  flash offset:     " << hex8(h.offset) << '\n'
              << "  size:             " << h.byteCount << " bytes, CRC " << hex8(h.crc) << '\n';
}

// Shows the seconds passed on the terminal while the update runs.
class ElapsedTime {
public:
    explicit ElapsedTime(bool show) : start_(std::chrono::steady_clock::now()) {
        if (show) thread_ = std::thread([this] { run(); });
    }
    ~ElapsedTime() { stop(); }

    void stop() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
        std::cerr << "\r\033[K" << std::flush;
    }

    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

private:
    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!done_) {
            char text[64];
            std::snprintf(text, sizeof text, "\rUpdating firmware... %.0f s", seconds());
            std::cerr << text << std::flush;
            wake_.wait_for(lock, std::chrono::milliseconds(500));
        }
    }

    std::chrono::steady_clock::time_point start_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
};

void runFirmware(const FirmwareArgs &args) {
    const std::string image = readFile(args.image);
    const FirmwareCheck verdict = checkFirmwareImage(image);
    printHeader(args.image, verdict);
    if (!verdict.problems.empty()) {
        std::string list;
        for (const std::string &problem : verdict.problems) list += "; " + problem;
        throw ToolError("the image " + args.image +
                        " is not a sound firmware image: " + list.substr(2));
    }

    Session session(args.resource, false);
    uint16_t subsystem = 0;
    uint32_t installed = 0;
    check(ZELSMBusGetAttribute(session.handle(), ZELSMBUS_ATTR_SUBSYSTEM_ID, &subsystem),
          "cannot read the subsystem of " + args.resource);
    check(ZELSMBusGetAttribute(session.handle(), ZELSMBUS_ATTR_FIRMWARE_VERSION, &installed),
          "cannot read the firmware version of " + args.resource);
    // The pin-out word is read only from a controller the image is made for.
    const bool subsystemFits = verdict.header.subsystemId == subsystem;
    std::optional<BoardPinOut> board;
    if (subsystemFits) board = readBoardPinOut(session.handle(), verdict.header.pinOutAddress);
    std::cout << "Controller " << args.resource << ": subsystem " << hex4(subsystem)
              << ", firmware version " << hex8(installed);
    if (board) std::cout << ", pin-out version " << board->version;
    std::cout << '\n';
    if (!subsystemFits) {
        throw ToolError("the image is made for subsystem " + hex4(verdict.header.subsystemId) +
                        ", not for this controller's " + hex4(subsystem));
    }
    if (board && board->erased && board->version != verdict.header.pinOutVersion) {
        throw ToolError("the pin-out word of " + args.resource + " (flash address " +
                            hex8(verdict.header.pinOutAddress) + ") reads erased",
                        ZELSMBUS_ERROR_PIN_OUT_ERASED,
                        "the board's own recovery procedure must restore the pin-out word "
                        "before an update can check the image against it");
    }
    if (board && board->version != verdict.header.pinOutVersion) {
        throw ToolError("the image is made for pin-out version " +
                        std::to_string(verdict.header.pinOutVersion) + ", but the board of " +
                        args.resource + " has pin-out version " + std::to_string(board->version) +
                        " (read at flash address " + hex8(verdict.header.pinOutAddress) + ")");
    }
    if (verdict.header.version <= installed && !args.force) {
        throw ToolError("the image's version " + hex8(verdict.header.version) +
                            " is not newer than the installed " + hex8(installed),
                        std::nullopt, "--force installs it anyway");
    }

    std::cout << std::flush;
    confirmWrite("I will replace the firmware of " + args.resource + " with " + args.image + ".",
                 "DANGER! An interrupted or wrong firmware update can leave the controller "
                 "unusable.\nDo not stop the program or switch the system off while it runs.");

    ElapsedTime elapsed(errorIsTerminal());
    const int32_t status =
        ZELSMBusWriteFirmware(session.handle(), uint32_t(image.size()), image.data(),
                              args.force ? ZELSMBUS_FIRMWARE_FORCE : 0u);
    elapsed.stop();
    if (status == ZELSMBUS_ERROR_NOT_SUPPORTED) {
        throw ToolError("the firmware update of " + args.resource + " failed", status,
                        "the image does not suit this controller: its header version, flash "
                        "device, flash offset, subsystem or pin-out version");
    }
    check(status, "the firmware update of " + args.resource + " failed");

    uint32_t now = 0;
    const int32_t readStatus =
        ZELSMBusGetAttribute(session.handle(), ZELSMBUS_ATTR_FIRMWARE_VERSION, &now);
    std::cout << "Firmware of " << args.resource << " updated and verified";
    if (readStatus >= 0) std::cout << "; version now " << hex8(now);
    if (errorIsTerminal()) {
        char text[32];
        std::snprintf(text, sizeof text, " (%.1f s)", elapsed.seconds());
        std::cout << text;
    }
    std::cout << '\n';
}

}  // namespace

Command addFirmwareCommand(CLI::App &tool) {
    static FirmwareArgs args;
    CLI::App *app = tool.add_subcommand(
        "firmware", "Check a firmware image and write it into a controller's flash");
    app->add_option("RESOURCE", args.resource, "Resource name of the controller")->required();
    app->add_option("IMAGE", args.image, "Firmware image file")->required();
    app->add_flag("--force", args.force, "Install an image that is not newer than the firmware");
    addYesOption(*app);
    return {app, "zelsmbus firmware [OPTIONS] RESOURCE IMAGE", [] { runFirmware(args); }};
}

}  // namespace zelsmbus_tool
