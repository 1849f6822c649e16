#include "heldSignals.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zelsmbus_tool {
namespace {

constexpr int kHeld[kHeldSignals] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};
volatile sig_atomic_t lastSignal = 0;

void note(int signal) {
    lastSignal = signal;
    // Only async-signal-safe calls here.
    static const char kMessage[] =
        "\nzelsmbus: the firmware update continues: stopping it now would leave the board "
        "without firmware. Wait for it to finish.\n";
    const int saved = errno;
    ssize_t ignored = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    (void)ignored;
    errno = saved;
}

}  // namespace

HeldSignals::HeldSignals() {
    lastSignal = 0;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = note;
    action.sa_flags = SA_RESTART;  // interrupted calls resume
    sigemptyset(&action.sa_mask);
    for (int signal : kHeld) sigaddset(&action.sa_mask, signal);
    for (int i = 0; i < kHeldSignals; ++i) sigaction(kHeld[i], &action, &previous_[i]);
}

HeldSignals::~HeldSignals() {
    for (int i = 0; i < kHeldSignals; ++i) sigaction(kHeld[i], &previous_[i], nullptr);
}

int HeldSignals::received() { return lastSignal; }

}  // namespace zelsmbus_tool
