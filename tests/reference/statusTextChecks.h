/* Checks of the header's inline status helpers, shared by a C and a C++ unit. */
#ifndef STATUS_TEXT_CHECKS_H
#define STATUS_TEXT_CHECKS_H

#include <stdio.h>
#include <string.h>

#include "zelsmbus.h"

static int expectText(const char *got, const char *want, int32_t code, const char *what) {
    if ((got == NULL) != (want == NULL) || (got != NULL && strcmp(got, want) != 0)) {
        fprintf(stderr, "%s(%ld): got \"%s\", want \"%s\"\n", what, (long)code,
                got ? got : "(null)", want ? want : "(null)");
        return 1;
    }
    return 0;
}

/* Number of failed checks. */
static int runStatusTextChecks(void) {
    int failures = 0;
    failures += expectText(ZELSMBusStatusName(0), "ZELSMBUS_SUCCESS", 0, "name");
    failures += expectText(ZELSMBusStatusName(-52006), "ZELSMBUS_ERROR_NOT_FOUND", -52006, "name");
    failures += expectText(ZELSMBusStatusMeaning(-52006), "no such resource, controller or handle",
                           -52006, "meaning");
    failures += expectText(ZELSMBusStatusName(-26983), "ZELSMBUS_ERROR_PROTECTED", -26983, "name");
    failures +=
        expectText(ZELSMBusStatusName(50254), "ZELSMBUS_WARNING_TRANSFER_DONE", 50254, "name");
    failures += expectText(ZELSMBusStatusMeaning(-240053),
                           "SMBIOS dump file cannot be read or is not valid", -240053, "meaning");

    /* Codes outside the table: a driver's own word, a warning, the extremes. */
    {
        const int32_t unknown[] = {-52001, -1, 1, 52006, INT32_MIN, INT32_MAX};
        size_t i;
        for (i = 0; i < sizeof unknown / sizeof unknown[0]; ++i) {
            failures += expectText(ZELSMBusStatusName(unknown[i]), NULL, unknown[i], "name");
            failures += expectText(ZELSMBusStatusMeaning(unknown[i]), NULL, unknown[i], "meaning");
        }
    }

    /* Every row of the table comes back as its own name and meaning. */
#define STATUS_ROW_CHECK_(name, value, meaning)                              \
    failures += expectText(ZELSMBusStatusName(value), #name, value, "name"); \
    failures += expectText(ZELSMBusStatusMeaning(value), meaning, value, "meaning");
    ZELSMBUS_STATUS_CODES(STATUS_ROW_CHECK_)
#undef STATUS_ROW_CHECK_
    return failures;
}

#endif
