// Holds off SIGINT, SIGTERM and SIGHUP while the flash is erased and written:
// stopping there would leave the board without firmware. A signal that arrives
// meanwhile is answered with a message that the update continues, and noted.
#pragma once

#include <csignal>

namespace zelsmbus_tool {

class HeldSignals {
public:
    HeldSignals();
    ~HeldSignals();  // the earlier dispositions come back
    HeldSignals(const HeldSignals &) = delete;
    HeldSignals &operator=(const HeldSignals &) = delete;

    // The last signal that arrived while held, or 0.
    static int received();

private:
    struct sigaction previous_[3];
};

}  // namespace zelsmbus_tool
