/* Makes a bus fail on purpose through the simulator's control interface
 * (zelsim.h) and shows what an application then gets from libzelsmbus: the
 * bus of the first port is held by no one, so a read answers "busy"; once
 * the fault is cleared, the same read succeeds.
 *
 *   zelsim --in-process -- fault-injection
 *
 * The control functions act on the world inside the process, so the program
 * runs under zelsim --in-process; in a shared world they refuse, and the
 * program says why (the shell reaches a shared world: zelsim fault lock 0 0).
 */
#include <stdio.h>
#include <zelsim.h>
#include <zelsmbus.h>

int main(void) {
    if (zelsim_hold_bus(0, 0) != 0) {
        fprintf(stderr, "cannot hold the bus: %s\n", zelsim_last_error());
        return 2;
    }
    tSMBusHandle *bus = NULL;
    int32_t status = ZELSMBusOpen("ZELSMBUS::SYSTEM::0::0", &bus);
    if (status < 0) {
        fprintf(stderr, "cannot open the port: %s\n", ZELSMBusStatusName(status));
        return 1;
    }
    uint8_t value = 0;
    status = ZELSMBusReadByte(bus, 0x90, 0x00, 0, &value);
    printf("bus held:    read answers %d (%s)\n", (int)status, ZELSMBusStatusName(status));

    zelsim_clear_faults();
    status = ZELSMBusReadByte(bus, 0x90, 0x00, 0, &value);
    printf("bus cleared: read answers %d, register 0x00 = 0x%02X\n", (int)status, value);
    ZELSMBusClose(bus);
    return status == 0 ? 0 : 1;
}
