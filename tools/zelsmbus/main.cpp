// zelsmbus: list, probe, read and write the SMBus and I2C buses of PXI systems
// through libzelsmbus.
#include <CLI/CLI.hpp>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "commands.h"
#include "failure.h"
#include "jsonWriter.h"
#include "options.h"
#include "statusText.h"
#include "utf8Text.h"

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

    // CLI11 writes each description on one line, however long: the help is
    // folded to the width of a terminal, descriptions under their column.
    std::string make_help(const CLI::App *app, std::string name,
                          CLI::AppFormatMode mode) const override {
        const std::string help = CLI::Formatter::make_help(app, std::move(name), mode);
        std::string folded;
        for (size_t start = 0; start < help.size();) {
            size_t end = help.find('\n', start);
            if (end == std::string::npos) end = help.size();
            folded += fold(help.substr(start, end - start));
            if (end < help.size()) folded += '\n';
            start = end + 1;
        }
        return folded;
    }

private:
    static constexpr size_t kWidth = 79;

    // One line of help folded at blanks; continuation lines start at the
    // column of the line's description (after the two blanks that end an
    // option or command name) or at its own indentation.
    static std::string fold(const std::string &line) {
        if (line.size() <= kWidth) return line;
        size_t indent = line.find_first_not_of(' ');
        if (indent == std::string::npos) return line;
        const size_t gap = line.find("  ", indent);
        if (indent > 0 && gap != std::string::npos) {
            const size_t column = line.find_first_not_of(' ', gap);
            if (column != std::string::npos && column < kWidth / 2) indent = column;
        }
        std::string out;
        std::string rest = line;
        while (rest.size() > kWidth) {
            size_t cut = rest.rfind(' ', kWidth);
            if (cut == std::string::npos || cut <= indent) cut = rest.find(' ', kWidth);
            if (cut == std::string::npos) break;
            out += rest.substr(0, cut) + '\n';
            const size_t next = rest.find_first_not_of(' ', cut);
            rest = std::string(indent, ' ') + (next == std::string::npos ? "" : rest.substr(next));
        }
        return out + rest;
    }
};

constexpr const char *kToolUsage = "zelsmbus [OPTIONS] COMMAND [ARGS...]";
constexpr const char *kAddressFooter = "Addresses are 7-bit (0x08-0x77) unless --8bit is given.";

// How the command ended, for the standard error stream and, with --json, for
// an error document on the standard output.
struct Failure {
    int exitStatus;
    std::string message;
    std::optional<int32_t> code;
    std::string hint;
    std::string usage;  // usage errors only
};

int report(const Failure &failure, bool asJson) {
    std::cerr << "zelsmbus: " << terminalSafe(failure.message);
    if (failure.code) std::cerr << ": " << formatStatus(*failure.code);
    std::cerr << '\n';
    if (!failure.hint.empty()) std::cerr << "zelsmbus: " << terminalSafe(failure.hint) << '\n';
    if (!failure.usage.empty()) {
        std::cerr << "Usage: " << failure.usage
                  << "\nTry 'zelsmbus --help' or 'zelsmbus COMMAND --help' for more.\n";
    }
    if (asJson) {
        JsonWriter json(std::cout);
        json.beginObject().key("error").beginObject();
        json.key("code");
        if (failure.code) {
            json.value(int64_t(*failure.code));
        } else {
            json.null();
        }
        const char *name = failure.code ? describeStatus(*failure.code).name : nullptr;
        json.key("name");
        if (name) {
            json.value(name);
        } else {
            json.null();
        }
        std::string message = failure.message;
        if (failure.code) message += ": " + formatStatus(*failure.code);
        json.member("message", message);
        if (!failure.hint.empty()) json.member("hint", failure.hint);
        json.member("exit_status", failure.exitStatus);
        json.endObject().endObject();
        json.finish();
    }
    return failure.exitStatus;
}

Failure usageFailure(const std::string &message, const std::string &usage) {
    return {2, message, std::nullopt, {}, usage};
}

// "The following arguments were not expected: b a" lists them last first.
std::string unexpectedArguments(const std::vector<std::string> &arguments) {
    std::string text = arguments.size() > 1 ? "unexpected arguments:" : "unexpected argument:";
    for (const std::string &argument : arguments) text += " " + argument;
    return text;
}

// A word of the command line as a shell would take it back, for hints that
// repeat the command.
std::string shellWord(const std::string &word) {
    if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                "0123456789_-+=:,./@%") == std::string::npos) {
        return word;
    }
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// A script that asks for JSON gets its error as JSON even when the command line
// could not be read.
bool jsonRequested(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App tool{"Lists, probes, reads and writes the SMBus and I2C buses of PXI systems.",
                  "zelsmbus"};
    auto formatter = std::make_shared<UsageFormatter>();
    tool.formatter(formatter);
    tool.set_version_flag("-V,--version", "zelsmbus " ZELSMBUS_TOOL_VERSION);
    tool.require_subcommand(1);
    formatter->usages[&tool] = kToolUsage;

    std::vector<Command> commands = {
        addListCommand(tool),          addDetectCommand(tool), addGetCommand(tool),
        addSetCommand(tool),           addDumpCommand(tool),   addEepromCommand(tool),
        addChassisEepromCommand(tool), addAttrCommand(tool),   addFirmwareCommand(tool),
        addFirmwareReadCommand(tool),  addCaptureCommand(tool),
        addTraceCommand(tool),
    };
    std::string commandNames;
    for (const Command &command : commands) {
        formatter->usages[command.app] = command.usage;
        // Only the commands that take --8bit speak of address forms.
        command.app->footer(command.app->get_option_no_throw("--8bit") ? kAddressFooter : "");
        commandNames += (commandNames.empty() ? "" : ", ") + command.app->get_name();
    }
    tool.footer(std::string(kAddressFooter) +
                " Run 'zelsmbus COMMAND --help' for a command's arguments.\n\n"
                "Without the hardware, try the tools on the simulated driver: 'zelsim -- "
                "zelsmbus list' runs a command in a simulated world of its own; 'zelsim start' "
                "keeps one running for the commands that follow ('zelsim -- zelsmbus ...' "
                "each), 'zelsim stop' ends it. See zelsim(1).");

    const bool asJson = jsonRequested(argc, argv);
    for (int i = 1; i < argc; ++i) {
        commonOptions().commandLine += (i > 1 ? " " : "") + shellWord(argv[i]);
    }
    if (argc < 2) return report(usageFailure("no command given", kToolUsage), asJson);
    // The tool's own options take no values: the first other word names the command.
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (!word.empty() && word[0] == '-') continue;
        bool known = false;
        for (const Command &command : commands) known = known || command.app->check_name(word);
        if (!known) {
            return report(
                usageFailure("unknown command \"" + word + "\" (commands: " + commandNames + ")",
                             kToolUsage),
                asJson);
        }
        break;
    }

    auto chosen = [&]() -> const Command * {
        for (const Command &command : commands) {
            if (command.app->parsed()) return &command;
        }
        return nullptr;
    };
    try {
        tool.parse(argc, argv);
    } catch (const CLI::Success &e) {
        return tool.exit(e);  // --help, --version
    } catch (const CLI::ExtrasError &) {
        const Command *command = chosen();
        const std::vector<std::string> extras =
            command ? command->app->remaining() : tool.remaining(true);
        return report(
            usageFailure(unexpectedArguments(extras), command ? command->usage : kToolUsage),
            asJson);
    } catch (const CLI::ParseError &e) {
        const Command *command = chosen();
        return report(usageFailure(e.what(), command ? command->usage : kToolUsage), asJson);
    }

    const Command *command = chosen();
    if (!command) return report(usageFailure("no command given", kToolUsage), asJson);
    try {
        command->run();
        return 0;
    } catch (const UsageError &e) {
        return report(usageFailure(e.what(), command->usage), asJson);
    } catch (const ToolError &e) {
        return report({1, e.what(), e.code(), e.hint(), {}}, asJson && !e.isShownInDocument());
    } catch (const std::exception &e) {
        return report({1, e.what(), std::nullopt, {}, {}}, asJson);
    }
}
