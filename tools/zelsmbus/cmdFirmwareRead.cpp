// zelsmbus firmware-read: the installed firmware as an image file that
// `zelsmbus firmware --force` writes back.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <string>

#include "commands.h"
#include "failure.h"
#include "firmwareBackup.h"
#include "firmwareJournal.h"
#include "options.h"
#include "session.h"

namespace zelsmbus_tool {
namespace {

struct FirmwareReadArgs {
    std::string resource, file, pinOutAddress = "0x20000", offset = "0";
};

void runFirmwareRead(const FirmwareReadArgs &args) {
    const uint32_t pinOutAddress = parseNumber(args.pinOutAddress, 0xFFFFFFFFu, "pin-out address");
    const uint32_t offset = parseNumber(args.offset, 0xFFFFFFFFu, "flash offset");
    Session session(args.resource, false);
    const InstalledImage image = readInstalledImage(session.handle(), args.resource, pinOutAddress, offset);
    writeFileAtomically(args.file, image.text);
    char text[160];
    std::snprintf(text, sizeof text,
                  "version 0x%08x, subsystem 0x%04x, pin-out version %u at 0x%x, flash 0x%04x, "
                  "%zu bytes",
                  image.version, image.subsystemId, image.pinOutVersion, pinOutAddress,
                  image.flashId, image.byteCount);
    std::cout << "Wrote the firmware of " << args.resource << " to " << args.file << " (" << text
              << ").\nIts Version is " << versionOrigin(image)
              << ".\n`zelsmbus firmware --force " << args.resource << " " << args.file
              << "` writes it back.\n";
}

}  // namespace

Command addFirmwareReadCommand(CLI::App &tool) {
    static FirmwareReadArgs args;
    CLI::App *app = tool.add_subcommand(
        "firmware-read", "Save a controller's installed firmware as a firmware image");
    app->add_option("RESOURCE", args.resource, "Resource name of the controller")->required();
    app->add_option("FILE", args.file, "Image file to write")->required();
    app->add_option("--pinout-addr", args.pinOutAddress,
                    "Flash address of the board's pin-out word (default 0x20000)");
    app->add_option("--offset", args.offset,
                    "Flash address of the firmware region on flash device 0xBF8E (default 0)");
    addAcceptedYesOption(*app);
    return {app, "zelsmbus firmware-read [OPTIONS] RESOURCE FILE", [] { runFirmwareRead(args); }};
}

}  // namespace zelsmbus_tool
