// zelsmbus-mkimage: wraps a firmware binary into an image that
// ZELSMBusWriteFirmware (and `zelsmbus firmware`) accepts.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "imageBuilder.h"

int main(int argc, char **argv) {
    CLI::App app{"Builds a controller firmware image from a binary file"};
    std::string input, output;
    zelsmbus_mkimage::tImageFields fields;
    app.add_option("input", input, "firmware binary")->required()->check(CLI::ExistingFile);
    app.add_option("-o,--output", output, "image file to write (default: standard output)");
    app.add_option("--subsystem-id", fields.subsystemId,
                   "PCI subsystem identifier of the controller")
        ->required();
    app.add_option("--pinout-addr", fields.pinOutAddress, "flash address of the pin-out word")
        ->required();
    app.add_option("--pinout-ver", fields.pinOutVersion, "pin-out version the board must carry")
        ->required();
    app.add_option("--version", fields.version, "version of this firmware")->required();
    app.add_option("--offset", fields.offset,
                   "flash address of the firmware region (0xBF8E boards)");
    app.add_option("--header-version", fields.headerVersion, "header format version (1 or 2)")
        ->check(CLI::Range(1, 2));
    app.add_option("--update-type", fields.updateType, "update type text (default FWUpdate)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success &e) {
        return app.exit(e);  // --help
    } catch (const CLI::ParseError &e) {
        // A usage error ends with 2, as with zelsmbus.
        app.exit(e);
        return 2;
    }

    std::ifstream file(input, std::ios::binary);
    std::vector<uint8_t> firmware((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof()) {
        std::fprintf(stderr, "zelsmbus-mkimage: cannot read %s\n", input.c_str());
        return 1;
    }
    const std::string image = zelsmbus_mkimage::buildFirmwareImage(fields, firmware);
    if (output.empty()) {
        std::fwrite(image.data(), 1, image.size(), stdout);
        return std::ferror(stdout) ? 1 : 0;
    }
    std::ofstream out(output, std::ios::binary);
    out.write(image.data(), std::streamsize(image.size()));
    if (!out.good()) {
        std::fprintf(stderr, "zelsmbus-mkimage: cannot write %s\n", output.c_str());
        return 1;
    }
    return 0;
}
