/* A minimal application: links against the installed library and calls it. */
#include <stdio.h>
#include <zelsmbus.h>

int main(void) {
    /* A null handle is refused before anything touches a driver. */
    const int32_t status = ZELSMBusClose(NULL);
    if (status != ZELSMBUS_ERROR_NOT_FOUND) {
        fprintf(stderr, "ZELSMBusClose(NULL) returned %d\n", (int)status);
        return 1;
    }
    return 0;
}
