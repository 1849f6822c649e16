/* A minimal application: links against the installed library and calls it. */
#include <stdio.h>
#include <zelsmbus.h>

int main(void) {
    /* A null handle is refused before anything touches a driver. */
    const int32_t status = ZELSMBusLock(NULL);
    if (status != ZELSMBUS_ERROR_NOT_FOUND || ZELSMBusClose(NULL) != ZELSMBUS_SUCCESS) {
        fprintf(stderr, "unexpected status %d\n", (int)status);
        return 1;
    }
    return 0;
}
