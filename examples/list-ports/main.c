/* Opens every controller port, prints each port's text and reads one byte
 * from a device on its bus.
 *
 *   list-ports [address [command]]      (8-bit address, default 0x90; command default 0)
 */
#include <stdio.h>
#include <stdlib.h>
#include <zelsmbus.h>

int main(int argc, char **argv) {
    uint8_t address = (uint8_t)(argc > 1 ? strtoul(argv[1], NULL, 0) : 0x90);
    uint8_t command = (uint8_t)(argc > 2 ? strtoul(argv[2], NULL, 0) : 0);

    uint32_t count = 0;
    int32_t status = 0;
    tSMBusHandle **handles = ZELSMBusOpenList(&count, &status);
    if (handles == NULL) {
        fprintf(stderr, "no controller ports (status %d)\n", (int)status);
        return 1;
    }

    for (uint32_t i = 0; i < count; ++i) {
        const char *text = NULL;
        int32_t code = ZELSMBusGetAttribute(handles[i], ZELSMBUS_ATTR_PORT_STRING, &text);
        printf("port %u: %s\n", (unsigned)i, code >= 0 && text != NULL ? text : "(no text)");

        uint8_t value = 0;
        code = ZELSMBusReadByte(handles[i], address, command, 0, &value);
        if (code == 0)
            printf("  device 0x%02X register 0x%02X = 0x%02X\n", address, command, value);
        else
            printf("  device 0x%02X: status %d\n", address, (int)code);
    }

    ZELSMBusCloseList(count, handles);
    return 0;
}
