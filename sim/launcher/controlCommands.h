// `zelsim fault ...` and `zelsim snapshot`: the shell's control of a running world.
#pragma once

#include <string>

namespace zelsim::launcher {

// Both print why they failed; exit statuses: 0 done, 1 no world or refused, 2 usage.
int faultCommand(const std::string &directory, int argc, char **argv);
int snapshotCommand(const std::string &directory);

}  // namespace zelsim::launcher
