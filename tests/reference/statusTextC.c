/* The inline status helpers in a strict C99 unit. */
#include "statusTextChecks.h"

int main(void) { return runStatusTextChecks() == 0 ? 0 : 1; }
