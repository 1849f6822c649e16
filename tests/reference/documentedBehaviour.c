/* Behaviour the reference in zelsmbus.h promises, checked through the shared
 * library against the simulated driver's default world (run under zelsim):
 * what a failed open writes, the bus lock's lack of a count, the EEPROM offset
 * wrapping at 256, the byte order of words, and the list call's status rules. */
#include <stdio.h>
#include <string.h>

#include "zelsmbus.h"

static int failures;

#define EXPECT(condition)                                           \
    do {                                                            \
        if (!(condition)) {                                         \
            fprintf(stderr, "line %d: %s\n", __LINE__, #condition); \
            ++failures;                                             \
        }                                                           \
    } while (0)

#define EXPECT_STATUS(call, want)                                                              \
    do {                                                                                       \
        const int32_t got_ = (call);                                                           \
        if (got_ != (want)) {                                                                  \
            fprintf(stderr, "line %d: %s = %ld (%s), want %ld\n", __LINE__, #call, (long)got_, \
                    ZELSMBusStatusName(got_) ? ZELSMBusStatusName(got_) : "?", (long)(want));  \
            ++failures;                                                                        \
        }                                                                                      \
    } while (0)

static const char kPort0[] = "ZELSMBUS::SYSTEM::0::0";
enum { kEeprom = 0xA0 };

static void failedOpenLeavesTheHandle(void) {
    tSMBusHandle *const marker = (tSMBusHandle *)&failures;
    tSMBusHandle *handle = marker;
    EXPECT_STATUS(ZELSMBusOpen("ZELSMBUS::SYSTEM::9::0", &handle), ZELSMBUS_ERROR_NOT_FOUND);
    EXPECT(handle == marker);
    EXPECT_STATUS(ZELSMBusOpen("no such port", &handle), ZELSMBUS_ERROR_NOT_FOUND);
    EXPECT(handle == marker);
    EXPECT_STATUS(ZELSMBusOpen(NULL, &handle), ZELSMBUS_ERROR_INVALID_PARAMETER);
    EXPECT(handle == marker);
}

static void lockHasNoCount(tSMBusHandle *first, tSMBusHandle *second) {
    EXPECT_STATUS(ZELSMBusLock(first), 0);
    EXPECT_STATUS(ZELSMBusLock(first), 0); /* again: nothing changes */
    EXPECT_STATUS(ZELSMBusLock(second), ZELSMBUS_ERROR_BUSY);
    EXPECT_STATUS(ZELSMBusUnlock(second), ZELSMBUS_ERROR_BUSY); /* not the holder's */
    EXPECT_STATUS(ZELSMBusUnlock(first), 0);                    /* one unlock releases */
    EXPECT_STATUS(ZELSMBusLock(second), 0);
    EXPECT_STATUS(ZELSMBusUnlock(second), 0);
    EXPECT_STATUS(ZELSMBusUnlock(second), 0); /* a free bus */
}

static void eepromOffsetWrapsAt256(tSMBusHandle *bus) {
    uint8_t end[4], start[4], across[8], high[8];
    EXPECT_STATUS(ZELSMBusReadI2CEEPROM(bus, kEeprom, 0xFC, 4, end), 0);
    EXPECT_STATUS(ZELSMBusReadI2CEEPROM(bus, kEeprom, 0x00, 4, start), 0);
    EXPECT_STATUS(ZELSMBusReadI2CEEPROM(bus, kEeprom, 0xFC, 8, across), 0);
    EXPECT(memcmp(across, end, 4) == 0 && memcmp(across + 4, start, 4) == 0);
    /* Only the low 8 bits of offset and address count. */
    EXPECT_STATUS(ZELSMBusReadI2CEEPROM(bus, 0x100 | kEeprom, 0x1FC, 8, high), 0);
    EXPECT(memcmp(high, across, 8) == 0);
    EXPECT(memcmp(start, "ZEL ", 4) == 0); /* the default world's EEPROM text */
}

static void wordsAreLowByteFirst(tSMBusHandle *bus) {
    uint8_t low = 0, high = 0;
    uint16_t word = 0;
    EXPECT_STATUS(ZELSMBusWriteWord(bus, kEeprom, 0x40, 0x1234, 0), 0);
    EXPECT_STATUS(ZELSMBusReadByte(bus, kEeprom, 0x40, 0, &low), 0);
    EXPECT_STATUS(ZELSMBusReadByte(bus, kEeprom, 0x41, 0, &high), 0);
    EXPECT(low == 0x34 && high == 0x12);
    EXPECT_STATUS(ZELSMBusReadWord(bus, kEeprom, 0x40, 0, &word), 0);
    EXPECT(word == 0x1234);
}

static void textsBelongToTheHandle(tSMBusHandle *bus) {
    uint64_t address = 0;
    uint8_t count = 0;
    EXPECT_STATUS(ZELSMBusGetAttribute(bus, ZELSMBUS_ATTR_PORT_STRING, &address), 0);
    EXPECT(address != 0 && strcmp((const char *)(uintptr_t)address, "HOST::SMBUS0") == 0);
    EXPECT_STATUS(ZELSMBusGetAttribute(bus, ZELSMBUS_ATTR_PROTECTED_COUNT, &count), 0);
    EXPECT_STATUS(ZELSMBusGetAttribute(bus, ZELSMBUS_ATTR_PROTECTED_LIST, &address), 0);
    EXPECT(count == 0 || address != 0);
}

static void listStatusRules(void) {
    uint32_t count = 77;
    int32_t status = -1;
    tSMBusHandle **handles = ZELSMBusOpenList(&count, &status);
    EXPECT(handles == NULL && count == 77 && status == -1); /* negative on entry: untouched */
    status = 0;
    handles = ZELSMBusOpenList(NULL, &status);
    EXPECT(handles == NULL && status == ZELSMBUS_ERROR_INVALID_PARAMETER);
    status = 0;
    handles = ZELSMBusOpenList(&count, &status);
    EXPECT(handles != NULL && count == 3 && status == 0);
    ZELSMBusCloseList(count, handles);
}

int main(void) {
    tSMBusHandle *first = NULL, *second = NULL;
    failedOpenLeavesTheHandle();
    EXPECT_STATUS(ZELSMBusOpen(kPort0, &first), 0);
    EXPECT_STATUS(ZELSMBusOpen(kPort0, &second), 0);
    if (first == NULL || second == NULL) return 1;
    lockHasNoCount(first, second);
    eepromOffsetWrapsAt256(first);
    wordsAreLowByteFirst(first);
    textsBelongToTheHandle(first);
    listStatusRules();
    ZELSMBusClose(first);
    ZELSMBusClose(second);
    if (failures != 0) fprintf(stderr, "%d failed checks\n", failures);
    return failures != 0;
}
