/* The public header in a strict C99 unit: every name it declares is usable. */
#include <stddef.h>

#include "zelsmbus.h"

#define ZELSMBUS_CODE_ENTRY_(name, value, meaning) (int32_t)(name) == (value) &&
static const int codesMatch = ZELSMBUS_STATUS_CODES(ZELSMBUS_CODE_ENTRY_) 1;
#undef ZELSMBUS_CODE_ENTRY_

int zelsmbusHeaderC(void);
int zelsmbusHeaderC(void) {
    int32_t (*open)(const char *, tSMBusHandle **) = ZELSMBusOpen;
    int32_t (*close)(tSMBusHandle *) = ZELSMBusClose;
    return codesMatch && open != NULL && close != NULL;
}
