/* Dumps an I2C EEPROM as hex and text.
 *
 *   eeprom-dump RESOURCE-NAME [address [length]]   (8-bit address, default 0xA0; length 1..256)
 *   eeprom-dump CHASSIS1::BACKPLANE chassis        (the chassis EEPROM of a backplane port)
 */
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zelsmbus.h>

static void dump(const uint8_t *data, uint32_t length) {
    for (uint32_t row = 0; row < length; row += 16) {
        printf("%02X:", (unsigned)row);
        for (uint32_t i = row; i < row + 16; ++i) {
            if (i < length)
                printf(" %02X", data[i]);
            else
                printf("   ");
        }
        printf("  ");
        for (uint32_t i = row; i < row + 16 && i < length; ++i)
            putchar(isprint(data[i]) ? data[i] : '.');
        putchar('\n');
    }
}

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s RESOURCE-NAME [address|chassis [length]]\n", argv[0]);
        return 2;
    }
    const int chassis = argc > 2 && strcmp(argv[2], "chassis") == 0;
    const uint32_t address = argc > 2 && !chassis ? (uint32_t)strtoul(argv[2], NULL, 0) : 0xA0;
    const uint32_t length = argc > 3 ? (uint32_t)strtoul(argv[3], NULL, 0) : 256;

    tSMBusHandle *handle = NULL;
    int32_t code = ZELSMBusOpen(argv[1], &handle);
    if (code < 0) {
        fprintf(stderr, "cannot open %s (status %d)\n", argv[1], (int)code);
        return 1;
    }

    uint8_t data[256];
    if (chassis)
        code = ZELSMBusGetChassisEEPROM(handle, 0, length, data);
    else
        code = ZELSMBusReadI2CEEPROM(handle, address, 0, length, data);
    if (code < 0)
        fprintf(stderr, "EEPROM read failed (status %d)\n", (int)code);
    else
        dump(data, length);

    ZELSMBusClose(handle);
    return code < 0 ? 1 : 0;
}
