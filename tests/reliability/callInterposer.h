// Counts the system calls the library makes on the simulated driver, in the
// order it makes them, and fails the n-th one on request.
//
// The simulator can fail "the next call of a kind" or "the next command of a
// number"; to fail each call in turn this wrapper sits in front of it (the
// test program's own definitions of open, ioctl, ... come first in symbol
// lookup) and arms the simulator's one-shot fault exactly when the chosen
// call passes through. Calls that do not reach the simulated driver are
// neither counted nor touched.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "zelsim.h"

namespace zelrel {

enum class tFault {
    errnoValue,  // the system call fails with an errno
    driverWord,  // the ioctl succeeds but the driver answers a negative status word
};

struct tCallRecord {
    zelsim_call kind;
    unsigned command;  // ioctl only: the driver command number
};

// Starts a fresh count; no fault armed. Without keepCalls only the number of
// calls is kept (for calls that make millions of them).
void startRecording(bool keepCalls = true);
// Fails the ordinal-th (1-based) counted call of the next run with `fault`.
// A driver word can only be given to an ioctl; for other calls it is ignored.
void armFault(size_t ordinal, tFault fault);
void disarm();
// Whether the armed fault met its call.
bool faultDelivered();
std::vector<tCallRecord> recordedCalls();
size_t recordedCallCount();

// Stops counting (e.g. during a test's own setup).
void pauseRecording();

std::string describe(const tCallRecord &call);

// The errno used for each kind of call and the word used for ioctls.
int faultErrno(zelsim_call kind);
constexpr int32_t kFaultDriverWord = -52024;

}  // namespace zelrel
