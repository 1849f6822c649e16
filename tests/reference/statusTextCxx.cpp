// The inline status helpers in a C++ unit (inside the header's extern "C").
#include "statusTextChecks.h"

int main() { return runStatusTextChecks() == 0 ? 0 : 1; }
