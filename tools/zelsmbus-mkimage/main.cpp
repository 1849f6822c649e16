// zelsmbus-mkimage: wraps a firmware binary into an image that
// ZELSMBusWriteFirmware (and `zelsmbus firmware`) accepts.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "imageBuilder.h"

namespace {

constexpr const char *kProgram = "zelsmbus-mkimage";

// A number in decimal or with a 0x prefix, within 0..largest; the message of a
// refusal names the field's range as the header can hold it.
CLI::Validator fieldRange(uint32_t largest, const std::string &range) {
    return CLI::Validator(
        [largest, range](std::string &text) -> std::string {
            errno = 0;
            char *end = nullptr;
            const bool digit = !text.empty() && text[0] >= '0' && text[0] <= '9';
            const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
            if (!digit || *end != '\0') return "\"" + text + "\" is not a number";
            if (errno == ERANGE || value > largest) {
                return text + " is out of range (" + range + ")";
            }
            return {};
        },
        range);
}

// The firmware's version used to be given as --version, which now prints the
// program's version: a value after it is refused with the new spelling.
bool oldVersionSpelling(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--version=", 10) == 0) return true;
        if (std::strcmp(argv[i], "--version") == 0 && i + 1 < argc && argv[i + 1][0] != '-') {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{"Builds a controller firmware image from a binary file", kProgram};
    app.set_version_flag("-V,--version", std::string(kProgram) + " " ZELSMBUS_MKIMAGE_VERSION,
                         "Print the program's version and exit");
    std::string input, output;
    zelsmbus_mkimage::tImageFields fields;
    app.add_option("input", input, "firmware binary")->required()->check(CLI::ExistingFile);
    app.add_option("-o,--output", output, "image file to write (default: standard output)");
    app.add_option("--subsystem-id", fields.subsystemId,
                   "PCI subsystem identifier of the controller")
        ->required()
        ->check(fieldRange(0xFFFF, "16 bits: 0-0xffff"));
    app.add_option("--pinout-addr", fields.pinOutAddress, "flash address of the pin-out word")
        ->required()
        ->check(fieldRange(0xFFFFFFFF, "32 bits: 0-0xffffffff"));
    app.add_option("--pinout-ver", fields.pinOutVersion, "pin-out version the board must carry")
        ->required()
        ->check(fieldRange(0xFF, "0-255"));
    app.add_option("--firmware-version", fields.version, "version of this firmware")
        ->required()
        ->check(fieldRange(0xFFFFFFFF, "32 bits: 0-0xffffffff"));
    app.add_option("--offset", fields.offset,
                   "flash address of the firmware region (0xBF8E boards)")
        ->check(fieldRange(0xFFFFFFFF, "32 bits: 0-0xffffffff"));
    app.add_option("--header-version", fields.headerVersion, "header format version (1 or 2)")
        ->check(CLI::Range(1, 2));
    app.add_option("--update-type", fields.updateType, "update type text (default FWUpdate)");

    if (oldVersionSpelling(argc, argv)) {
        std::fprintf(stderr,
                     "%s: --version prints the program's version; give the firmware's version "
                     "as --firmware-version (such as --firmware-version 0x02000200)\n",
                     kProgram);
        return 2;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success &e) {
        return app.exit(e);  // --help, --version
    } catch (const CLI::ParseError &e) {
        // A usage error ends with 2, as with zelsmbus.
        std::fprintf(stderr, "%s: %s\nRun '%s --help' for the options.\n", kProgram, e.what(),
                     kProgram);
        return 2;
    }

    std::ifstream file(input, std::ios::binary);
    std::vector<uint8_t> firmware((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof()) {
        std::fprintf(stderr, "%s: cannot read %s\n", kProgram, input.c_str());
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
        std::fprintf(stderr, "%s: cannot write %s\n", kProgram, output.c_str());
        return 1;
    }
    return 0;
}
