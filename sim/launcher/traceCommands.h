// `zelsim record` and `zelsim replay`: a program's driver requests written to
// a trace file, and a trace served back to a program in place of a driver.
#pragma once

#include "worldControl.h"

namespace zelsim::launcher {

// zelsim record -o FILE [--world FILE | --driver] [--] PROGRAM...
int recordCommand(const Layout &layout, int argc, char **argv);
// The launcher's internal "__record SOURCE FILE -- PROGRAM..." mode: run
// where PROGRAM will run (under the world, or over the driver), it writes the
// header with the driver tree as seen from there and runs PROGRAM with the
// recorder preloaded.
int recordInner(const Layout &layout, int argc, char **argv);
// zelsim replay TRACE [--strict | --keyed] [--volatile NODE:REGISTER:MASK]... [--] PROGRAM...
int replayCommand(const Layout &layout, int argc, char **argv);

}  // namespace zelsim::launcher
