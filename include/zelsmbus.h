/* libzelsmbus: SMBus and I2C controller access for PXI systems and their hosts.
 *
 * Every function returns a signed 32-bit status: 0 success, negative an error,
 * positive a warning (the call did its work). Device addresses are 8-bit: the
 * 7-bit bus address shifted left by one; bit 0 is ignored.
 */
#ifndef ZELSMBUS_H
#define ZELSMBUS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/** An open session on one controller port; opaque to applications. */
typedef struct tSMBusHandle tSMBusHandle;

#ifndef ZELSMBUS_API
#define ZELSMBUS_API __attribute__((visibility("default")))
#endif

/* ---- Status codes -------------------------------------------------------
 * X(name, value, meaning): one row per code the library itself raises. The
 * driver's own status words and the chassis-query library's codes pass
 * through unchanged and may lie outside this table. */
#define ZELSMBUS_STATUS_CODES(X)                                                                       \
    X(ZELSMBUS_SUCCESS, 0, "success")                                                                  \
    X(ZELSMBUS_ERROR_OUT_OF_MEMORY, -52000, "out of memory or out of file descriptors")                \
    X(ZELSMBUS_ERROR_NOT_SUPPORTED, -52002, "operation not supported by this controller or image")    \
    X(ZELSMBUS_ERROR_SYSTEM, -52003, "driver nodes could not be searched, or flash did not read back") \
    X(ZELSMBUS_ERROR_INVALID_PARAMETER, -52005, "invalid parameter")                                   \
    X(ZELSMBUS_ERROR_NOT_FOUND, -52006, "no such resource, controller or handle")                      \
    X(ZELSMBUS_ERROR_TIMEOUT, -52007, "the controller or its flash did not become ready in time")      \
    X(ZELSMBUS_ERROR_OS, -52008, "unexpected operating-system error")                                  \
    X(ZELSMBUS_ERROR_IN_PROGRESS, -52011, "operation already in progress")                             \
    X(ZELSMBUS_ERROR_NO_SPACE, -52012, "no space left or value overflow")                              \
    X(ZELSMBUS_ERROR_EXISTS, -52013, "already exists or already in use")                               \
    X(ZELSMBUS_ERROR_OWNER_DEAD, -52014, "the previous owner died")                                    \
    X(ZELSMBUS_ERROR_DEADLOCK, -52015, "deadlock avoided or no lock available")                        \
    X(ZELSMBUS_ERROR_VERIFY_FAILED, -52018, "firmware read back differs from the image")               \
    X(ZELSMBUS_ERROR_TOO_LARGE, -52019, "data larger than its buffer or region")                       \
    X(ZELSMBUS_ERROR_REMOVED, -52020, "identifier removed")                                            \
    X(ZELSMBUS_ERROR_CORRUPT_DATA, -52023, "byte count or checksum mismatch")                          \
    X(ZELSMBUS_ERROR_IO, -52024, "input/output error")                                                 \
    X(ZELSMBUS_ERROR_INTERRUPTED, -52025, "interrupted or connection reset")                           \
    X(ZELSMBUS_ERROR_ACCESS_DENIED, -52026, "permission denied")                                       \
    X(ZELSMBUS_ERROR_PIN_OUT_ERASED, -52030, "pin-out word reads erased: an update did not complete")  \
    X(ZELSMBUS_ERROR_BUSY, -52031, "device or resource busy")                                          \
    X(ZELSMBUS_ERROR_PROTECTED, -26983, "protected address or attribute on a restricted session")     \
    X(ZELSMBUS_ERROR_SMBIOS_OPEN, -240050, "SMBIOS dump file cannot be opened")                        \
    X(ZELSMBUS_ERROR_SMBIOS_READ, -240053, "SMBIOS dump file cannot be read or is not valid")          \
    X(ZELSMBUS_WARNING_TRANSFER_DONE, 50254, "I2C transfer or block process call completed")

#define ZELSMBUS_STATUS_ENUM_ENTRY_(name, value, meaning) name = (value),
/** Named status codes; see ZELSMBUS_STATUS_CODES for their meanings. */
enum ZELSMBusStatusCode { ZELSMBUS_STATUS_CODES(ZELSMBUS_STATUS_ENUM_ENTRY_) };
#undef ZELSMBUS_STATUS_ENUM_ENTRY_

/* ---- Attribute identifiers (value width in brackets) -------------------- */
#define ZELSMBUS_ATTRIBUTES(X)                                                                    \
    X(ZELSMBUS_ATTR_VENDOR_ID, 101, 2, "PCI vendor identifier")                                   \
    X(ZELSMBUS_ATTR_DEVICE_ID, 102, 2, "PCI device identifier")                                   \
    X(ZELSMBUS_ATTR_SUBSYSTEM_VENDOR_ID, 103, 2, "PCI subsystem vendor identifier")               \
    X(ZELSMBUS_ATTR_SUBSYSTEM_ID, 104, 2, "PCI subsystem identifier")                             \
    X(ZELSMBUS_ATTR_PCI_BUS, 105, 2, "PCI bus number")                                            \
    X(ZELSMBUS_ATTR_PCI_DEVICE, 106, 2, "PCI device number")                                      \
    X(ZELSMBUS_ATTR_PCI_FUNCTION, 107, 2, "PCI function number")                                  \
    X(ZELSMBUS_ATTR_PORT, 108, 2, "port index on the controller")                                 \
    X(ZELSMBUS_ATTR_PORT_STRING, 301, 8, "address of the port's text")                            \
    X(ZELSMBUS_ATTR_DEVICE_STRING, 302, 8, "address of the device's text")                        \
    X(ZELSMBUS_ATTR_FIRMWARE_VERSION, 303, 4, "installed firmware version (register 4)")          \
    X(ZELSMBUS_ATTR_PROTECTED_COUNT, 401, 1, "number of protected addresses")                     \
    X(ZELSMBUS_ATTR_PROTECTED_LIST, 402, 8, "address of the protected-address list")              \
    X(ZELSMBUS_ATTR_UNRESTRICTED, 1001, 4, "session may reach protected addresses (boolean)")      \
    X(ZELSMBUS_ATTR_CHASSIS_EEPROM_PORT, 1002, 4, "port reaches the chassis EEPROM (boolean)")     \
    X(ZELSMBUS_ATTR_EXTENDED_PROTECTION, 1003, 4, "extended protection flag (boolean)")           \
    X(ZELSMBUS_ATTR_1004, 1004, 4, "driver port setting 1004 (boolean, full access)")             \
    X(ZELSMBUS_ATTR_1005, 1005, 4, "driver port setting 1005")                                    \
    X(ZELSMBUS_ATTR_CONFIG_FLAG, 1006, 4, "configuration flag in flash block 2 (boolean)")        \
    X(ZELSMBUS_ATTR_2001, 2001, 4, "driver port setting 2001")                                    \
    X(ZELSMBUS_ATTR_3001, 3001, 4, "driver port setting 3001 (full access)")                      \
    X(ZELSMBUS_ATTR_3002, 3002, 4, "driver port setting 3002 (full access)")                      \
    X(ZELSMBUS_ATTR_10001, 10001, 2, "driver port setting 10001 (full access)")                   \
    X(ZELSMBUS_ATTR_10002, 10002, 2, "driver port setting 10002 (full access)")                   \
    X(ZELSMBUS_ATTR_10003, 10003, 2, "driver port setting 10003 (full access)")                   \
    X(ZELSMBUS_ATTR_10004, 10004, 2, "driver port value 10004 (read only, full access)")          \
    X(ZELSMBUS_ATTR_10005, 10005, 2, "driver port setting 10005 (full access)")

#define ZELSMBUS_ATTR_ENUM_ENTRY_(name, value, width, meaning) name = (value),
/** Attribute identifiers for ZELSMBusGetAttribute / ZELSMBusSetAttribute. */
enum ZELSMBusAttribute { ZELSMBUS_ATTRIBUTES(ZELSMBUS_ATTR_ENUM_ENTRY_) };
#undef ZELSMBUS_ATTR_ENUM_ENTRY_

/** First and last identifier of the raw register range (32-bit values, full
 *  access); the register's byte offset is the identifier minus the first. */
#define ZELSMBUS_ATTR_REGISTER_FIRST 0x20000u
#define ZELSMBUS_ATTR_REGISTER_LAST 0x2FFFFu

/** Bit 0 of ZELSMBusWriteFirmware's flags: accept an image that is not newer. */
#define ZELSMBUS_FIRMWARE_FORCE 0x1u

/** Largest SMBus block and I2C transfer the library accepts. */
#define ZELSMBUS_BLOCK_MAX 32u
#define ZELSMBUS_I2C_MAX 256u

/* ---- Sessions ----------------------------------------------------------- */

/** Opens a session on the port named by resourceName (ZELSMBUS::SYSTEM::n::p,
 *  ZELSMBUS::REMOTE::n::p, PXIn::c::BACKPLANE, or a port's own text). */
ZELSMBUS_API int32_t ZELSMBusOpen(const char *resourceName, tSMBusHandle **handle);
/** Opens every port; *count receives the number of handles. On failure
 *  returns NULL and writes the code through status. */
ZELSMBUS_API tSMBusHandle **ZELSMBusOpenList(uint32_t *count, int32_t *status);
/** As ZELSMBusOpenList; reserved is not used. */
ZELSMBUS_API tSMBusHandle **ZELSMBusOpenListEx(void *reserved, uint32_t *count, int32_t *status);
/** Closes a session (NULL accepted); always returns 0. */
ZELSMBUS_API int32_t ZELSMBusClose(tSMBusHandle *handle);
/** Closes the first count handles of an array from ZELSMBusOpenList and frees it. */
ZELSMBUS_API void ZELSMBusCloseList(uint32_t count, tSMBusHandle **handles);

/* ---- Resource names ----------------------------------------------------- */

/** Every resource name, each zero-terminated, then one more zero byte;
 *  NULL on failure. Release with ZELSMBusPutResourceNameList. */
ZELSMBUS_API char *ZELSMBusGetResourceNameList(void);
/** Releases a list from ZELSMBusGetResourceNameList (NULL accepted). */
ZELSMBUS_API void ZELSMBusPutResourceNameList(char *list);

/* ---- Bus transactions (pec: non-zero asks for packet error checking) ---- */

/** SMBus quick command with the read bit. */
ZELSMBUS_API int32_t ZELSMBusQuickRead(tSMBusHandle *handle, uint8_t address);
/** SMBus quick command with the write bit. */
ZELSMBUS_API int32_t ZELSMBusQuickWrite(tSMBusHandle *handle, uint8_t address);
/** SMBus send byte. */
ZELSMBUS_API int32_t ZELSMBusSendByte(tSMBusHandle *handle, uint8_t address, uint8_t data, int32_t pec);
/** SMBus receive byte. */
ZELSMBUS_API int32_t ZELSMBusReceiveByte(tSMBusHandle *handle, uint8_t address, int32_t pec, uint8_t *data);
/** SMBus write byte to a command code. */
ZELSMBUS_API int32_t ZELSMBusWriteByte(tSMBusHandle *handle, uint8_t address, uint8_t command, uint8_t data,
                          int32_t pec);
/** SMBus read byte from a command code. */
ZELSMBUS_API int32_t ZELSMBusReadByte(tSMBusHandle *handle, uint8_t address, uint8_t command, int32_t pec,
                         uint8_t *data);
/** SMBus write word. */
ZELSMBUS_API int32_t ZELSMBusWriteWord(tSMBusHandle *handle, uint8_t address, uint8_t command, uint16_t data,
                          int32_t pec);
/** SMBus read word. */
ZELSMBUS_API int32_t ZELSMBusReadWord(tSMBusHandle *handle, uint8_t address, uint8_t command, int32_t pec,
                         uint16_t *data);
/** SMBus process call: writes a word, reads the reply word. */
ZELSMBUS_API int32_t ZELSMBusProcessCall(tSMBusHandle *handle, uint8_t address, uint8_t command, uint16_t data,
                            int32_t pec, uint16_t *result);
/** SMBus block write of count (at most 32) bytes. */
ZELSMBUS_API int32_t ZELSMBusWriteBlock(tSMBusHandle *handle, uint8_t address, uint8_t command, uint8_t count,
                           const uint8_t *data, int32_t pec);
/** SMBus block read; data must hold 32 bytes, *count receives the length. */
ZELSMBUS_API int32_t ZELSMBusReadBlock(tSMBusHandle *handle, uint8_t address, uint8_t command, int32_t pec,
                          uint8_t *count, uint8_t *data);
/** SMBus block process call; readData must hold 32 bytes. Success is 50254. */
ZELSMBUS_API int32_t ZELSMBusBlockProcessCall(tSMBusHandle *handle, uint8_t address, uint8_t command,
                                 uint8_t writeCount, const uint8_t *writeData, int32_t pec,
                                 uint8_t *readCount, uint8_t *readData);
/** I2C block write of length (at most 256) bytes after the command byte. Success is 50254. */
ZELSMBUS_API int32_t ZELSMBusWriteBlockI2C(tSMBusHandle *handle, uint8_t address, uint8_t command,
                              uint32_t length, const uint8_t *data);
/** I2C block read of length (at most 256) bytes after the command byte. Success is 50254. */
ZELSMBUS_API int32_t ZELSMBusReadBlockI2C(tSMBusHandle *handle, uint8_t address, uint8_t command,
                             uint32_t length, uint8_t *data);

/* ---- Bus lock and reset -------------------------------------------------- */

/** Takes the bus lock of the session's port (the driver decides how long it waits). */
ZELSMBUS_API int32_t ZELSMBusLock(tSMBusHandle *handle);
/** Releases the bus lock of the session's port. */
ZELSMBUS_API int32_t ZELSMBusUnlock(tSMBusHandle *handle);
/** Not supported: always returns ZELSMBUS_ERROR_NOT_SUPPORTED. */
ZELSMBUS_API int32_t ZELSMBusResetBus(tSMBusHandle *handle);

/* ---- Attributes ----------------------------------------------------------- */

/** Reads an attribute; value points to storage of the attribute's width. */
ZELSMBUS_API int32_t ZELSMBusGetAttribute(tSMBusHandle *handle, uint32_t attribute, void *value);
/** Sets an attribute from a value of the attribute's width. */
ZELSMBUS_API int32_t ZELSMBusSetAttribute(tSMBusHandle *handle, uint32_t attribute, const void *value);

/* ---- EEPROM and firmware --------------------------------------------------- */

/** Reads length (1 to 256) bytes of an I2C EEPROM from an 8-bit offset. */
ZELSMBUS_API int32_t ZELSMBusReadI2CEEPROM(tSMBusHandle *handle, uint32_t address, uint32_t offset,
                              uint32_t length, uint8_t *buffer);
/** Reads length (1 to 256) bytes of the chassis EEPROM (address 0xA4). */
ZELSMBUS_API int32_t ZELSMBusGetChassisEEPROM(tSMBusHandle *handle, uint32_t offset, uint32_t length,
                                 uint8_t *buffer);
/** Replaces the controller's firmware from an image of length bytes in memory;
 *  flags may hold ZELSMBUS_FIRMWARE_FORCE. */
ZELSMBUS_API int32_t ZELSMBusWriteFirmware(tSMBusHandle *handle, uint32_t length, const void *image,
                              uint32_t flags);

#ifdef __cplusplus
}
#endif

#endif /* ZELSMBUS_H */
