// zelsmbus trace: a driver trace (zelsim record) decoded as a protocol
// analyser shows it: one line per SMBus/I2C operation, flash procedures as
// their steps.
#include <CLI/CLI.hpp>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "commands.h"
#include "failure.h"
#include "traceDecode.h"

namespace zelsmbus_tool {
namespace {

struct TraceArgs {
    std::string file;
    bool json = false, raw = false;
};

void runTrace(const TraceArgs &args) {
    std::ifstream in(args.file, std::ios::binary);
    if (!in) throw ToolError("cannot read " + args.file + ": " + std::strerror(errno));
    try {
        printTrace(in, std::cout, {args.json, args.raw});
    } catch (const std::runtime_error &e) {
        throw ToolError(args.file + ": " + e.what());
    }
    if (in.bad()) throw ToolError("cannot read " + args.file + ": " + std::strerror(errno));
}

}  // namespace

Command addTraceCommand(CLI::App &tool) {
    static TraceArgs args;
    CLI::App *app = tool.add_subcommand(
        "trace",
        "Decode a driver trace (zelsim record): one line per SMBus/I2C operation, a flash "
        "procedure as its steps");
    app->add_option("TRACE", args.file, "Trace file (JSON Lines)")->required();
    app->add_flag("--json", args.json, "One JSON object per operation");
    app->add_flag("--raw", args.raw, "Every request on its own, flash registers included");
    addAcceptedYesOption(*app);
    return {app, "zelsmbus trace [--json] [--raw] TRACE", [] { runTrace(args); }};
}

}  // namespace zelsmbus_tool
