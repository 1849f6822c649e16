// The tool's commands: each adds its subcommand and returns how to run it.
#pragma once

#include <functional>
#include <string>

namespace CLI {
class App;
}

namespace zelsmbus_tool {

struct Command {
    CLI::App *app;
    std::string usage;  // "zelsmbus get [OPTIONS] RESOURCE ADDRESS [COMMAND [MODE [LENGTH]]]"
    std::function<void()> run;
};

Command addListCommand(CLI::App &tool);
Command addDetectCommand(CLI::App &tool);
Command addGetCommand(CLI::App &tool);
Command addSetCommand(CLI::App &tool);
Command addDumpCommand(CLI::App &tool);
Command addEepromCommand(CLI::App &tool);
Command addChassisEepromCommand(CLI::App &tool);
Command addAttrCommand(CLI::App &tool);
Command addFirmwareCommand(CLI::App &tool);
Command addFirmwareReadCommand(CLI::App &tool);
Command addCaptureCommand(CLI::App &tool);
Command addTraceCommand(CLI::App &tool);

}  // namespace zelsmbus_tool
