// Holds off SIGINT, SIGTERM, SIGHUP, SIGQUIT (Ctrl-\) and SIGTSTP (Ctrl-Z)
// while the flash is erased and written: stopping or suspending the tool there
// would leave the board without firmware (a suspended update also keeps the
// flash lock from everybody else). A signal that arrives
// meanwhile is answered with a message that the update continues, and noted.
#pragma once

#include <csignal>

namespace zelsmbus_tool {

inline constexpr int kHeldSignals = 5;

class HeldSignals {
public:
    HeldSignals();
    ~HeldSignals();  // the earlier dispositions come back
    HeldSignals(const HeldSignals &) = delete;
    HeldSignals &operator=(const HeldSignals &) = delete;

    // The last signal that arrived while held, or 0.
    static int received();

private:
    struct sigaction previous_[kHeldSignals];
};

}  // namespace zelsmbus_tool
