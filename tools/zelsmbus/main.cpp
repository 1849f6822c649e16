// zelsmbus: list, probe, read and write the SMBus and I2C buses of PXI systems
// through libzelsmbus.
#include <CLI/CLI.hpp>

#include <iostream>
#include <map>
#include <memory>
#include <vector>

#include "commands.h"
#include "failure.h"
#include "statusText.h"

namespace {

using namespace zelsmbus_tool;

// Shows each command's own usage line (CLI11 would list positionals in lower case).
class UsageFormatter : public CLI::Formatter {
public:
    std::map<const CLI::App *, std::string> usages;

    std::string make_usage(const CLI::App *app, std::string name) const override {
        const auto found = usages.find(app);
        if (found == usages.end()) return CLI::Formatter::make_usage(app, name);
        return "Usage: " + found->second + "\n";
    }
};

constexpr const char *kToolUsage = "zelsmbus [OPTIONS] COMMAND [ARGS...]";

int usageFailure(const std::string &message, const std::string &usage) {
    std::cerr << "zelsmbus: " << message << "\nUsage: " << usage
              << "\nTry 'zelsmbus --help' or 'zelsmbus COMMAND --help' for more.\n";
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App tool{"Lists, probes, reads and writes the SMBus and I2C buses of PXI systems.",
                  "zelsmbus"};
    auto formatter = std::make_shared<UsageFormatter>();
    tool.formatter(formatter);
    tool.set_version_flag("-V,--version", "zelsmbus " ZELSMBUS_TOOL_VERSION);
    tool.require_subcommand(1);
    tool.footer("Addresses are 7-bit (0x08-0x77) unless --8bit is given. Run 'zelsmbus COMMAND "
                "--help' for a command's arguments.");
    formatter->usages[&tool] = kToolUsage;

    std::vector<Command> commands = {
        addListCommand(tool),   addDetectCommand(tool), addGetCommand(tool),
        addSetCommand(tool),    addDumpCommand(tool),   addEepromCommand(tool),
        addChassisEepromCommand(tool), addAttrCommand(tool), addFirmwareCommand(tool),
    };
    for (const Command &command : commands) formatter->usages[command.app] = command.usage;

    auto chosenUsage = [&]() -> std::string {
        for (const Command &command : commands) {
            if (command.app->parsed()) return command.usage;
        }
        return kToolUsage;
    };

    if (argc < 2) return usageFailure("no command given", kToolUsage);
    try {
        tool.parse(argc, argv);
    } catch (const CLI::Success &e) {
        return tool.exit(e);  // --help, --version
    } catch (const CLI::ParseError &e) {
        return usageFailure(e.what(), chosenUsage());
    }

    for (const Command &command : commands) {
        if (!command.app->parsed()) continue;
        try {
            command.run();
            return 0;
        } catch (const UsageError &e) {
            return usageFailure(e.what(), command.usage);
        } catch (const ToolError &e) {
            std::cerr << "zelsmbus: " << e.what();
            if (e.code()) std::cerr << ": " << formatStatus(*e.code());
            std::cerr << '\n';
            if (!e.hint().empty()) std::cerr << "zelsmbus: " << e.hint() << '\n';
            return 1;
        } catch (const std::exception &e) {
            std::cerr << "zelsmbus: " << e.what() << '\n';
            return 1;
        }
    }
    return usageFailure("no command given", kToolUsage);
}
