#include "confirm.h"

#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "failure.h"
#include "options.h"

namespace zelsmbus_tool {

bool isInteractive() {
    if (const char *forced = std::getenv("ZELSMBUS_INTERACTIVE")) {
        return std::string(forced) == "1";
    }
    return isatty(STDIN_FILENO) == 1;
}

bool errorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

std::string eepromDanger(unsigned address7) {
    if (address7 < 0x50 || address7 > 0x57) return {};
    return "DANGER! Addresses 0x50-0x57 hold serial EEPROMs, such as those of memory modules;\n"
           "overwriting one can leave the hardware unusable.";
}

void confirmWrite(const std::string &description, const std::string &danger) {
    const bool risky = !danger.empty();
    if (commonOptions().yes) return;
    if (!isInteractive()) {
        throw ToolError("standard input is not a terminal, so nobody can confirm the write; "
                        "pass -y to write without asking");
    }
    std::cerr << "WARNING! Writing to a bus device can change how it works, lose its data or "
                 "stop the system.\n";
    if (risky) std::cerr << danger << '\n';
    std::cerr << description << '\n' << (risky ? "Continue? [y/N] " : "Continue? [Y/n] ")
              << std::flush;
    std::string answer;
    bool agreed = false;
    if (std::getline(std::cin, answer)) {
        const char first = answer.empty() ? '\0' : answer[0];
        if (first == 'y' || first == 'Y') {
            agreed = true;
        } else if (first == 'n' || first == 'N') {
            agreed = false;
        } else {
            agreed = !risky;  // the default shown in capitals
        }
    }
    if (!agreed) throw ToolError("not confirmed; nothing was written");
}

}  // namespace zelsmbus_tool
