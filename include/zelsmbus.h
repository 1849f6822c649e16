/* libzelsmbus: SMBus and I2C controller access for PXI systems and their hosts.
 *
 * Every function returns a signed 32-bit status: 0 success, negative an error,
 * positive a warning (the call did its work). Device addresses are 8-bit: the
 * 7-bit bus address shifted left by one; bit 0 is ignored.
 *
 * The comments below are the library's reference; `cmake --build build
 * --target docs` renders them as HTML and as section-3 manual pages.
 */
#ifndef ZELSMBUS_H
#define ZELSMBUS_H

#include <stddef.h>
#include <stdint.h>

/**
 * \file zelsmbus.h
 * \brief The public C interface of libzelsmbus.so.2: 29 functions, the status
 *        codes and the attribute identifiers.
 *
 * \mainpage libzelsmbus reference
 *
 * The reference of the C interface of `libzelsmbus.so.2`: start with the
 * \subpage libzelsmbus "overview" (also `man 3 libzelsmbus`), then the page of
 * each family of functions (`man ZELSMBusOpen` opens the page of its family).
 *
 * \page libzelsmbus libzelsmbus overview
 *
 * \section zelsmbus_families The functions
 *
 * `libzelsmbus.so.2` reaches the SMBus and I2C controllers of a PXI chassis and
 * of its host through a kernel driver. This page holds what every function
 * shares; each family of functions has a page of its own:
 *
 * - \ref zelsmbus_sessions "Sessions" (zelsmbus_sessions(3)): ZELSMBusOpen(),
 *   ZELSMBusOpenList(), ZELSMBusOpenListEx(), ZELSMBusClose(),
 *   ZELSMBusCloseList();
 * - \ref zelsmbus_names "Resource names" (zelsmbus_names(3)):
 *   ZELSMBusGetResourceNameList(), ZELSMBusPutResourceNameList();
 * - \ref zelsmbus_transactions "Transactions" (zelsmbus_transactions(3)): the
 *   14 SMBus and I2C transactions;
 * - \ref zelsmbus_lock "Bus lock and reset" (zelsmbus_lock(3)): ZELSMBusLock(),
 *   ZELSMBusUnlock(), ZELSMBusResetBus();
 * - \ref zelsmbus_attributes "Attributes" (zelsmbus_attributes(3)):
 *   ZELSMBusGetAttribute(), ZELSMBusSetAttribute();
 * - \ref zelsmbus_eeprom "EEPROM and firmware" (zelsmbus_eeprom(3)):
 *   ZELSMBusReadI2CEEPROM(), ZELSMBusGetChassisEEPROM(),
 *   ZELSMBusWriteFirmware();
 * - \ref zelsmbus_status "Status codes" (zelsmbus_status(3)): the status codes,
 *   ZELSMBusStatusName(), ZELSMBusStatusMeaning().
 *
 * As manual pages: `man 3 libzelsmbus` (this page), `man zelsmbus_sessions` and
 * so on, and `man ZELSMBusOpen` for any function (the page of its family).
 *
 * \section zelsmbus_build Building a program
 *
 *     cc app.c $(pkg-config --cflags --libs zelsmbus)
 *
 * or, in CMake, `find_package(zelsmbus)` and link `zelsmbus::zelsmbus`. Against
 * an installation outside the loader's search path (for example
 * `/opt/zelsmbus`), build with a run path or set `LD_LIBRARY_PATH`:
 *
 *     cc app.c $(pkg-config --cflags --libs zelsmbus) \
 *        -Wl,-rpath,"$(pkg-config --variable=libdir zelsmbus)" -o app
 *     LD_LIBRARY_PATH="$(pkg-config --variable=libdir zelsmbus)" ./app
 *
 * Without hardware, run the program under the simulated driver:
 * `zelsim -- ./app` (zelsim(1)).
 *
 * \section zelsmbus_statuses Status codes
 *
 * Every function that returns `int32_t` returns a status: 0 for success, a
 * negative code for an error (the call had no effect beyond what its page
 * says), a positive code for a warning (the call did its work and adds a note).
 * Three transfers report success as the warning
 * `ZELSMBUS_WARNING_TRANSFER_DONE` (50254): ZELSMBusBlockProcessCall(),
 * ZELSMBusWriteBlockI2C() and ZELSMBusReadBlockI2C(). Test for failure with
 * `status < 0`, never with `status != 0`.
 *
 * The checks of the arguments come first and in this order: a null handle
 * gives `ZELSMBUS_ERROR_NOT_FOUND` (-52006), then a missing pointer or a size
 * out of range gives `ZELSMBUS_ERROR_INVALID_PARAMETER` (-52005), then a
 * protected address on a restricted session gives `ZELSMBUS_ERROR_PROTECTED`
 * (-26983). Nothing reaches the driver when a check fails.
 *
 * A call that reaches the driver can besides return:
 * - the driver's own status word, unchanged; the simulated driver answers
 *   -52024 (`ZELSMBUS_ERROR_IO`) when no device acknowledges the address and
 *   -52031 (`ZELSMBUS_ERROR_BUSY`) when another session holds the bus lock
 *   (\ref zelsmbus_lock);
 * - a code for a failed system call on the driver node, by its `errno`:
 *   ENOMEM, ENFILE, EMFILE -52000; ENOTTY, ENOTSUP -52002; EINVAL -52005;
 *   ENOENT, ESRCH, ENXIO, EBADF, ENODEV -52006; ETIMEDOUT -52007; EALREADY,
 *   EINPROGRESS -52011; ENOSPC, EOVERFLOW -52012; EEXIST, EADDRINUSE -52013;
 *   EOWNERDEAD -52014; EDEADLK, ENOLCK -52015; ENOBUFS -52019; EIDRM -52020;
 *   ECONNABORTED -52023; EIO, EPIPE, EBADMSG -52024; EINTR, ECONNRESET -52025;
 *   EPERM, EACCES, EROFS -52026; EBUSY -52031; any other -52008.
 *
 * Codes of the chassis-query library (opening and listing backplane names) pass
 * through unchanged as well, so a status may lie outside #ZELSMBUS_STATUS_CODES;
 * ZELSMBusStatusName() then returns NULL.
 *
 * \section zelsmbus_addresses Addresses
 *
 * Device addresses cross this interface in **8-bit form**: the 7-bit bus address
 * shifted left by one. The EEPROM at 7-bit address 0x50 is 0xA0 here, the
 * chassis EEPROM 0x52 is 0xA4. Bit 0 (the read/write bit on the wire) takes no
 * part in the protection test and the driver sets it itself: pass it as 0.
 * ZELSMBusReadI2CEEPROM() takes its address as `uint32_t` and uses the low
 * 8 bits.
 *
 * \section zelsmbus_byte_order Byte order
 *
 * Words (ZELSMBusReadWord(), ZELSMBusWriteWord(), ZELSMBusProcessCall()) are
 * host integers in SMBus order: bits 0 to 7 are the first data byte on the
 * wire, bits 8 to 15 the second. An EEPROM holding 0x5A at offset 0 and 0x45
 * at offset 1 reads as the word 0x455A; writing 0x1234 stores 0x34 then 0x12.
 * A device that sends its most significant byte first (many temperature
 * sensors do) needs the two bytes swapped. Block data is in wire order.
 *
 * \section zelsmbus_ownership Ownership and lifetime
 *
 * - A handle from ZELSMBusOpen() belongs to the caller until ZELSMBusClose().
 *   An array from ZELSMBusOpenList() or ZELSMBusOpenListEx() belongs to the
 *   caller together with its handles and is released only by
 *   ZELSMBusCloseList(), which closes the first `count` handles and frees the
 *   array. A handle of the array closed earlier with ZELSMBusClose() must be
 *   replaced by NULL in the array, or it is closed twice.
 * - A name list from ZELSMBusGetResourceNameList() is released only by
 *   ZELSMBusPutResourceNameList(), not by `free()`.
 * - The texts and the list whose addresses attributes 301 (port text), 302
 *   (device text) and 402 (protected addresses) return belong to the handle:
 *   they stay valid and unchanged until ZELSMBusClose() of that handle and must
 *   not be written or freed. Copy them to keep them longer.
 * - The library keeps nothing between calls: no global state, no cache, no
 *   thread. Every open discovers the controllers afresh.
 *
 * \section zelsmbus_threads Threads
 *
 * Separate handles are independent, also on the same port: calls on them may
 * run at the same time from any threads. Each opens its own connection to the
 * driver node. One handle may be shared by threads for transactions, EEPROM
 * reads and attribute reads (apart from the session's
 * `ZELSMBUS_ATTR_UNRESTRICTED` flag, a handle holds nothing that changes after
 * opening; the only lock a call takes on its own is the flash writer lock of
 * the flash calls below, released before the call returns), with three limits:
 * - ZELSMBusClose() must not overlap any other call on the handle, nor precede
 *   one;
 * - setting `ZELSMBUS_ATTR_UNRESTRICTED` while another thread uses the handle
 *   is a data race;
 * - the bus lock belongs to the connection, so it does not exclude threads
 *   sharing one handle from each other (\ref zelsmbus_lock). Give each thread
 *   its own handle when they must take turns on the bus.
 *
 * Firmware updates and the configuration flag (`ZELSMBUS_ATTR_CONFIG_FLAG`) are
 * sequences of register commands on the controller's flash. The library runs
 * one writer at a time per controller: ZELSMBusWriteFirmware() and setting
 * attribute 1006 hold the controller's **flash lock** exclusively for the
 * whole call, and getting attribute 1006 holds it shared (readers do not wait
 * for each other, only for a writer). The lock is flock() on the controller's
 * driver node, so that every process using this library (and the `zelsmbus`
 * tool's own flash reads) honours it, and the kernel drops it when its holder
 * dies; these calls are the exception to "a handle holds no lock" above. A
 * call that finds it held against it, by another process or another thread
 * of this one, waits about 2 seconds and then answers `ZELSMBUS_ERROR_BUSY`
 * (-52031) without touching the flash: call again once the other writer is
 * done (a firmware update takes seconds to minutes). A program that flock()s
 * the node itself must not hold that lock while it calls these functions.
 */

#ifdef __cplusplus
extern "C" {
#endif

/**
 * \ingroup zelsmbus_sessions
 * \brief An open session on one controller port; opaque to applications.
 *
 * Made by ZELSMBusOpen() or as an element of the array of ZELSMBusOpenList(),
 * destroyed by ZELSMBusClose() or ZELSMBusCloseList().
 */
typedef struct tSMBusHandle tSMBusHandle;

#ifndef ZELSMBUS_API
/** \brief Marks the 29 exported functions; define it before the include to override. */
#define ZELSMBUS_API __attribute__((visibility("default")))
#endif

/**
 * \defgroup zelsmbus_status Status codes
 * \brief The codes the library raises, and their names and meanings.
 *
 * Every exported function that returns `int32_t` returns one of these codes or
 * a code passed through from the driver or the chassis-query library (see
 * \ref zelsmbus_statuses on the main page). ZELSMBusStatusName() and
 * ZELSMBusStatusMeaning() turn a code into text; they are inline functions of
 * this header, not exports of the library.
 * @{
 */

/* ---- Status codes -------------------------------------------------------
 * X(name, value, meaning): one row per code the library itself raises. The
 * driver's own status words and the chassis-query library's codes pass
 * through unchanged and may lie outside this table. */
/**
 * \brief The table of status codes: `X(name, value, meaning)` for each code
 *        the library raises.
 *
 * Expand it with a macro of three arguments to build tables of your own; the
 * enumeration #ZELSMBusStatusCode and ZELSMBusStatusName() are made from it.
 * Its rows are listed in the description of the group.
 * \hideinitializer
 */
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
    X(ZELSMBUS_ERROR_PIN_OUT_ERASED, -52030, "pin-out word reads erased")                         \
    X(ZELSMBUS_ERROR_BUSY, -52031, "device or resource busy")                                          \
    X(ZELSMBUS_ERROR_REGION_DAMAGED, -52032,                                                            \
      "the region is damaged: do not restart the board, repeat the update")                            \
    X(ZELSMBUS_ERROR_PROTECTED, -26983, "protected address or attribute on a restricted session")     \
    X(ZELSMBUS_ERROR_SMBIOS_OPEN, -240050, "SMBIOS dump file cannot be opened")                        \
    X(ZELSMBUS_ERROR_SMBIOS_READ, -240053, "SMBIOS dump file cannot be read or is not valid")          \
    X(ZELSMBUS_WARNING_TRANSFER_DONE, 50254, "I2C transfer or block process call completed")

#define ZELSMBUS_STATUS_ENUM_ENTRY_(name, value, meaning) name = (value),
/**
 * \brief Named status codes, one per row of #ZELSMBUS_STATUS_CODES; the
 *        table's third column is each one's meaning.
 */
enum ZELSMBusStatusCode { ZELSMBUS_STATUS_CODES(ZELSMBUS_STATUS_ENUM_ENTRY_) };
#undef ZELSMBUS_STATUS_ENUM_ENTRY_

/**
 * \brief The symbolic name of a status code, such as "ZELSMBUS_ERROR_NOT_FOUND".
 *
 * An inline function of this header (the library exports no such function), so
 * it works with any build of the library.
 *
 * \param status a status returned by a function of this library.
 * \return the name from #ZELSMBUS_STATUS_CODES, a static text; NULL for a code
 *         outside the table (a driver status word or a code of the
 *         chassis-query library passed through unchanged).
 */
static inline const char *ZELSMBusStatusName(int32_t status) {
    switch (status) {
#define ZELSMBUS_STATUS_NAME_CASE_(name, value, meaning) \
    case value:                                          \
        return #name;
        ZELSMBUS_STATUS_CODES(ZELSMBUS_STATUS_NAME_CASE_)
#undef ZELSMBUS_STATUS_NAME_CASE_
        default:
            return NULL;
    }
}

/**
 * \brief A status code's one-line meaning ("no such resource, controller or handle" for -52006).
 *
 * An inline function of this header, like ZELSMBusStatusName().
 *
 * \param status a status returned by a function of this library.
 * \return the meaning from #ZELSMBUS_STATUS_CODES, a static text; NULL for a
 *         code outside the table.
 */
static inline const char *ZELSMBusStatusMeaning(int32_t status) {
    switch (status) {
#define ZELSMBUS_STATUS_MEANING_CASE_(name, value, meaning) \
    case value:                                             \
        return meaning;
        ZELSMBUS_STATUS_CODES(ZELSMBUS_STATUS_MEANING_CASE_)
#undef ZELSMBUS_STATUS_MEANING_CASE_
        default:
            return NULL;
    }
}

/** @} */

/**
 * \defgroup zelsmbus_attributes Attributes
 * \brief Reading and setting the attributes of a session, its port and its
 *        controller.
 *
 * Each attribute has a fixed identifier and a fixed value width (1, 2, 4 or
 * 8 bytes: the third column of #ZELSMBUS_ATTRIBUTES); the value pointer must
 * address storage of exactly that width. "Full access" attributes are refused
 * with `ZELSMBUS_ERROR_PROTECTED` until `ZELSMBUS_ATTR_UNRESTRICTED` is set on
 * the session.
 *
 * | identifier | width | get | set | full access |
 * |---|---|---|---|---|
 * | 101-108 (PCI identity and location, port) | 2 | yes | no | no |
 * | 301, 302 (address of the port's, the device's text) | 8 | yes | no | no |
 * | 303 (installed firmware version) | 4 | yes | no | no |
 * | 401 (number of protected addresses) | **1** | yes | no | no |
 * | 402 (address of the protected-address list) | 8 | yes | no | no |
 * | 1001 (session unrestricted) | 4 | yes | yes | no |
 * | 1002, 1003 (port flags) | 4 | yes | no | no |
 * | 1004 | 4 | yes | yes | yes |
 * | 1005, 2001 | 4 | yes | yes | no |
 * | 1006 (configuration flag, flash 0x1010 only) | 4 | yes | yes | no |
 * | 3001, 3002 | 4 | yes | yes | yes |
 * | 10001-10003, 10005 | 2 | yes | yes | yes |
 * | 10004 | 2 | yes | no | yes |
 * | 0x20000-0x2FFFF (controller registers) | 4 | yes | yes | yes |
 *
 * The texts of 301 and 302 are zero-terminated (at most 64 characters); the
 * list of 402 holds as many 8-bit addresses as 401 reports. All three belong to
 * the handle and become invalid at ZELSMBusClose().
 * @{
 */

/* ---- Attribute identifiers (value width in brackets) -------------------- */
/**
 * \brief The table of attributes: `X(name, identifier, width in bytes, meaning)`.
 *
 * Its rows are listed in the description of the group.
 * \hideinitializer
 */
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
/**
 * \brief Attribute identifiers for ZELSMBusGetAttribute() and
 *        ZELSMBusSetAttribute(), one per row of #ZELSMBUS_ATTRIBUTES.
 */
enum ZELSMBusAttribute { ZELSMBUS_ATTRIBUTES(ZELSMBUS_ATTR_ENUM_ENTRY_) };
#undef ZELSMBUS_ATTR_ENUM_ENTRY_

/** \brief First identifier of the raw register range (32-bit values, full
 *  access); the register's byte offset is the identifier minus this one. */
#define ZELSMBUS_ATTR_REGISTER_FIRST 0x20000u
/** \brief Last identifier of the raw register range. */
#define ZELSMBUS_ATTR_REGISTER_LAST 0x2FFFFu

/** @} */

/**
 * \ingroup zelsmbus_eeprom
 * \brief Bit 0 of ZELSMBusWriteFirmware()'s flags: accept an image that is not
 *        newer than the installed firmware.
 */
#define ZELSMBUS_FIRMWARE_FORCE 0x1u

/**
 * \ingroup zelsmbus_transactions
 * \brief Largest SMBus block (ZELSMBusWriteBlock(), ZELSMBusReadBlock(),
 *        ZELSMBusBlockProcessCall()) in bytes.
 */
#define ZELSMBUS_BLOCK_MAX 32u
/**
 * \ingroup zelsmbus_transactions
 * \brief Largest I2C block transfer and EEPROM read in bytes.
 */
#define ZELSMBUS_I2C_MAX 256u

/* ---- Sessions ----------------------------------------------------------- */

/**
 * \defgroup zelsmbus_sessions Sessions
 * \brief Opening and closing sessions on controller ports.
 *
 * A resource name selects a port in one of four forms, compared without
 * regard to the case of ASCII letters:
 * - `ZELSMBUS::SYSTEM::n::p`: port p of the n-th system (host) controller
 *   device; `ZELSMBUS::SYSTEM::n` and `ZELSMBUS::SYSTEM` mean port 0 and device
 *   0;
 * - `ZELSMBUS::REMOTE::n::p`: the same among the remote (chassis) controllers;
 * - `PXIi::c::BACKPLANE`: the port that reaches the chassis EEPROM of chassis c
 *   (found through the chassis-query library `libzelqpxi.so.1`);
 * - the port's own text (attribute 301), for example `HOST::SMBUS0`.
 *
 * ZELSMBusGetResourceNameList() lists the names that open. Every open call
 * discovers the controllers afresh; two handles on one name are two
 * independent sessions, each with its own connection to the driver.
 *
 * A new session is restricted: transactions to the port's protected addresses
 * (attributes 401 and 402) and the full-access attributes are refused with
 * `ZELSMBUS_ERROR_PROTECTED` until `ZELSMBUS_ATTR_UNRESTRICTED` is set to 1.
 * @{
 */

/**
 * \brief Opens a session on the port named by a resource name.
 *
 * \param resourceName zero-terminated resource name, in one of the forms
 *        listed on this page.
 * \param handle receives the new handle on success. On failure nothing is
 *        written: `*handle` keeps the value it had.
 * \retval 0 the session is open; release it with ZELSMBusClose().
 * \retval >0 the session is open and the driver added a warning.
 * \retval ZELSMBUS_ERROR_INVALID_PARAMETER (-52005) `resourceName` or `handle`
 *         is NULL.
 * \retval ZELSMBUS_ERROR_NOT_FOUND (-52006) the driver offers no controller
 *         port, the name fits no form, the numbered device or port does not
 *         exist, or no port's chassis EEPROM matches the backplane's chassis.
 * \retval ZELSMBUS_ERROR_SYSTEM (-52003) the driver's nodes could not be
 *         searched.
 * \retval ZELSMBUS_ERROR_OUT_OF_MEMORY (-52000) memory or file descriptors ran
 *         out.
 * \retval other a backplane name whose chassis cannot be looked up returns the
 *         chassis-query library's code (-52005 when the library cannot be
 *         loaded); a node that fails while it is queried returns the code of
 *         that failure (\ref zelsmbus_statuses).
 */
ZELSMBUS_API int32_t ZELSMBusOpen(const char *resourceName, tSMBusHandle **handle);
/**
 * \brief Opens a session on every controller port.
 *
 * Same as ZELSMBusOpenListEx() with a NULL `reserved`.
 *
 * \param count receives the number of handles in the array on success; not
 *        written on failure.
 * \param status in and out: a negative code on entry makes the call return
 *        NULL at once, touching nothing; on failure it receives the error
 *        code; on success it is left as it was.
 * \return an array of `*count` handles (at least one), in the order of the
 *         ports' numbered names, to be released with ZELSMBusCloseList();
 *         NULL on failure.
 */
ZELSMBUS_API tSMBusHandle **ZELSMBusOpenList(uint32_t *count, int32_t *status);
/**
 * \brief Opens a session on every controller port.
 *
 * \param reserved not used; pass NULL.
 * \param count receives the number of handles in the array on success; not
 *        written on failure.
 * \param status in and out: NULL, or a negative code on entry, makes the call
 *        return NULL at once, touching nothing. On failure it receives the
 *        error code: `ZELSMBUS_ERROR_INVALID_PARAMETER` when `count` is NULL,
 *        `ZELSMBUS_ERROR_NOT_FOUND` when the driver offers no port,
 *        `ZELSMBUS_ERROR_OUT_OF_MEMORY`, or a driver or system code. On success
 *        it is not written.
 * \return an array of `*count` handles (at least one), system and remote ports
 *         in the order of their numbered names. The array and its handles
 *         belong to the caller and are released together by
 *         ZELSMBusCloseList(). NULL on failure; no handle then remains open.
 */
ZELSMBUS_API tSMBusHandle **ZELSMBusOpenListEx(void *reserved, uint32_t *count, int32_t *status);
/**
 * \brief Closes a session and frees its handle.
 *
 * Closes the handle's connection to the driver; the texts and lists that
 * attributes 301, 302 and 402 returned become invalid. Closing does not unlock
 * the bus first: call ZELSMBusUnlock() before (the driver may release the lock
 * of a closed connection, as the simulated one does, but the library does not
 * ask it to). The handle must not be used again, and no other thread may be
 * using it.
 *
 * \param handle a handle from ZELSMBusOpen(), or NULL (nothing happens). A
 *        handle of an array from ZELSMBusOpenList() may be closed here too, but
 *        its entry must then be set to NULL before ZELSMBusCloseList().
 * \retval 0 always.
 */
ZELSMBUS_API int32_t ZELSMBusClose(tSMBusHandle *handle);
/**
 * \brief Closes the handles of an array from ZELSMBusOpenList() and frees the
 *        array.
 *
 * \param count the number of handles to close from the start of the array,
 *        normally the `*count` that ZELSMBusOpenList() returned.
 * \param handles the array, or NULL (nothing happens, whatever `count`). NULL
 *        entries are skipped.
 */
ZELSMBUS_API void ZELSMBusCloseList(uint32_t count, tSMBusHandle **handles);

/** @} */

/* ---- Resource names ----------------------------------------------------- */

/**
 * \defgroup zelsmbus_names Resource names
 * \brief Listing the names ZELSMBusOpen() accepts.
 * @{
 */

/**
 * \brief Lists every resource name that opens.
 *
 * First one `PXI0::c::BACKPLANE` name for every chassis whose slot 1 carries a
 * controller of this library, in the chassis-query library's order; then one
 * `ZELSMBUS::SYSTEM::n::p` or `ZELSMBUS::REMOTE::n::p` name for every port
 * the driver offers, in the numbering ZELSMBusOpen() uses. No status is
 * reported.
 *
 * A driver that offers no controller is not a failure: the list then holds
 * the backplane names alone, or no name.
 *
 * When the call returns NULL, nothing records why: there is no status, and
 * the library writes no trace or log. To find the cause:
 * - check that the chassis-query library `libzelqpxi.so.1` loads
 *   (`dlopen("libzelqpxi.so.1", RTLD_NOW)`, whose `dlerror()` says why not);
 *   ZELSMBusOpen() of the backplane name of chassis 1 (`PXI0::c::BACKPLANE`
 *   with c = 1) then returns the chassis-query library's own code;
 * - open a port by its numbered name (`ZELSMBUS::SYSTEM::0::0`):
 *   ZELSMBusOpen() returns the status of the driver's nodes and of reading
 *   the port's identity;
 * - call again: a NULL for lack of memory may not recur.
 *
 * \return the names, each followed by a zero byte, then one more zero byte
 *         (a list without names is a single zero byte). Release it with
 *         ZELSMBusPutResourceNameList(). NULL in three cases only: the
 *         chassis-query library cannot be loaded or queried (its chassis list,
 *         a chassis's slot 1 or an attribute other than the serial number
 *         cannot be read), even when controller ports exist; a port's
 *         identity cannot be read from the driver; memory runs out.
 */
ZELSMBUS_API char *ZELSMBusGetResourceNameList(void);
/**
 * \brief Releases a list from ZELSMBusGetResourceNameList().
 *
 * \param list the list, or NULL (nothing happens).
 */
ZELSMBUS_API void ZELSMBusPutResourceNameList(char *list);

/** @} */

/* ---- Bus transactions (pec: non-zero asks for packet error checking) ---- */

/**
 * \defgroup zelsmbus_transactions Transactions
 * \brief The SMBus transactions and I2C block transfers.
 *
 * Each transaction is one driver command; the library adds no retry, no
 * time-out and no wait (while another session holds the bus lock, the driver
 * may wait and then answer `ZELSMBUS_ERROR_BUSY`). Common to all of them:
 * - `address` is the device address in 8-bit form (\ref zelsmbus_addresses).
 * - `pec`: any non-zero value asks for packet error checking.
 * - Words are in SMBus byte order (\ref zelsmbus_byte_order).
 * - Returns: 0 on success (`ZELSMBUS_WARNING_TRANSFER_DONE` for the block
 *   process call and the I2C block transfers); `ZELSMBUS_ERROR_NOT_FOUND` for a
 *   NULL handle; `ZELSMBUS_ERROR_INVALID_PARAMETER` for a missing pointer or a
 *   size beyond #ZELSMBUS_BLOCK_MAX or #ZELSMBUS_I2C_MAX;
 *   `ZELSMBUS_ERROR_PROTECTED` for a protected address on a restricted session
 *   (nothing is sent); otherwise the driver's answer, for example
 *   `ZELSMBUS_ERROR_IO` (-52024) when no device acknowledges
 *   (\ref zelsmbus_statuses).
 * - Outputs: a call refused by its checks (NULL handle, invalid argument,
 *   protected address) writes nothing. When the driver answers with an error,
 *   the block data is not copied, but a single byte, word or count output may
 *   have been overwritten with whatever the driver's reply held: treat it as
 *   unspecified. A failed call leaves the handle usable.
 * @{
 */

/**
 * \brief SMBus quick command with the read bit.
 *
 * \param handle the session.
 * \param address 8-bit device address.
 * \return 0 when the device acknowledged; see the page for the errors.
 */
ZELSMBUS_API int32_t ZELSMBusQuickRead(tSMBusHandle *handle, uint8_t address);
/**
 * \brief SMBus quick command with the write bit.
 *
 * Unlike every other transaction, a quick write to a protected address on a
 * restricted session sends nothing and returns 0.
 *
 * \param handle the session.
 * \param address 8-bit device address.
 * \return 0 when the device acknowledged, or when the address is protected and
 *         nothing was sent; see the page for the errors.
 */
ZELSMBUS_API int32_t ZELSMBusQuickWrite(tSMBusHandle *handle, uint8_t address);
/**
 * \brief SMBus send byte.
 *
 * \param handle the session.
 * \param address 8-bit device address.
 * \param data the byte to send.
 * \param pec non-zero asks for packet error checking.
 * \return 0 on success; see the page for the errors.
 */
ZELSMBUS_API int32_t ZELSMBusSendByte(tSMBusHandle *handle, uint8_t address, uint8_t data, int32_t pec);
/**
 * \brief SMBus receive byte.
 *
 * \param handle the session.
 * \param address 8-bit device address.
 * \param pec non-zero asks for packet error checking.
 * \param data receives the byte; unspecified on failure (see the page). Required.
 * \return 0 on success; `ZELSMBUS_ERROR_INVALID_PARAMETER` when `data` is NULL;
 *         see the page for the other errors.
 */
ZELSMBUS_API int32_t ZELSMBusReceiveByte(tSMBusHandle *handle, uint8_t address, int32_t pec, uint8_t *data);
/**
 * \brief SMBus write byte to a command code.
 *
 * \param handle the session.
 * \param address 8-bit device address.
 * \param command the command code (register).
 * \param data the byte to write.
 * \param pec non-zero asks for packet error checking.
 * \return 0 on success; see the page for the errors.
 */
ZELSMBUS_API int32_t ZELSMBusWriteByte(tSMBusHandle *handle, uint8_t address, uint8_t command, uint8_t data,
                          int32_t pec);
/**
 * \brief SMBus read byte from a command code.
 *
 * \param handle the session.
 * \param address 8-bit device address.
 * \param command the command code (register).
 * \param pec non-zero asks for packet error checking.
 * \param data receives the byte; unspecified on failure (see the page). Required.
 * \return 0 on success; `ZELSMBUS_ERROR_INVALID_PARAMETER` when `data` is NULL;
 *         see the page for the other errors.
 */
ZELSMBUS_API int32_t ZELSMBusReadByte(tSMBusHandle *handle, uint8_t address, uint8_t command, int32_t pec,
                         uint8_t *data);
/**
 * \brief SMBus write word.
 *
 * \param handle the session.
 * \param address 8-bit device address.
 * \param command the command code (register).
 * \param data the word; its low byte goes first on the wire.
 * \param pec non-zero asks for packet error checking.
 * \return 0 on success; see the page for the errors.
 */
ZELSMBUS_API int32_t ZELSMBusWriteWord(tSMBusHandle *handle, uint8_t address, uint8_t command, uint16_t data,
                          int32_t pec);
/**
 * \brief SMBus read word.
 *
 * \param handle the session.
 * \param address 8-bit device address.
 * \param command the command code (register).
 * \param pec non-zero asks for packet error checking.
 * \param data receives the word, the first byte read in bits 0 to 7;
 *        unspecified on failure (see the page). Required.
 * \return 0 on success; `ZELSMBUS_ERROR_INVALID_PARAMETER` when `data` is NULL;
 *         see the page for the other errors.
 */
ZELSMBUS_API int32_t ZELSMBusReadWord(tSMBusHandle *handle, uint8_t address, uint8_t command, int32_t pec,
                         uint16_t *data);
/**
 * \brief SMBus process call: writes a word, reads the reply word.
 *
 * \param handle the session.
 * \param address 8-bit device address.
 * \param command the command code.
 * \param data the word to write, low byte first.
 * \param pec non-zero asks for packet error checking.
 * \param result receives the reply word; unspecified on failure (see the page). Required.
 * \return 0 on success; `ZELSMBUS_ERROR_INVALID_PARAMETER` when `result` is
 *         NULL; see the page for the other errors.
 */
ZELSMBUS_API int32_t ZELSMBusProcessCall(tSMBusHandle *handle, uint8_t address, uint8_t command, uint16_t data,
                            int32_t pec, uint16_t *result);
/**
 * \brief SMBus block write.
 *
 * \param handle the session.
 * \param address 8-bit device address.
 * \param command the command code.
 * \param count number of bytes, 0 to #ZELSMBUS_BLOCK_MAX (32).
 * \param data the bytes; may be NULL when `count` is 0.
 * \param pec non-zero asks for packet error checking.
 * \return 0 on success; `ZELSMBUS_ERROR_INVALID_PARAMETER` when `count` is above
 *         32 or `data` is NULL with a non-zero count; see the page for the
 *         other errors.
 */
ZELSMBUS_API int32_t ZELSMBusWriteBlock(tSMBusHandle *handle, uint8_t address, uint8_t command, uint8_t count,
                           const uint8_t *data, int32_t pec);
/**
 * \brief SMBus block read.
 *
 * \param handle the session.
 * \param address 8-bit device address.
 * \param command the command code.
 * \param pec non-zero asks for packet error checking.
 * \param count receives the byte count the device sent; unspecified on
 *        failure (see the page). Required.
 * \param data receives the bytes; must hold #ZELSMBUS_BLOCK_MAX (32) bytes,
 *        of which at most 32 are written even if the device announces more.
 *        Unchanged on failure. Required.
 * \return 0 on success; `ZELSMBUS_ERROR_INVALID_PARAMETER` when `count` or
 *         `data` is NULL; see the page for the other errors.
 */
ZELSMBUS_API int32_t ZELSMBusReadBlock(tSMBusHandle *handle, uint8_t address, uint8_t command, int32_t pec,
                          uint8_t *count, uint8_t *data);
/**
 * \brief SMBus block process call: writes a block, reads the reply block.
 *
 * \param handle the session.
 * \param address 8-bit device address.
 * \param command the command code.
 * \param writeCount number of bytes to write, 0 to #ZELSMBUS_BLOCK_MAX (32).
 * \param writeData the bytes to write; may be NULL when `writeCount` is 0.
 * \param pec non-zero asks for packet error checking.
 * \param readCount receives the byte count of the reply; unspecified on
 *        failure (see the page). Required.
 * \param readData receives the reply; must hold 32 bytes, of which at most 32
 *        are written. Unchanged on failure. Required.
 * \retval ZELSMBUS_WARNING_TRANSFER_DONE (50254) success.
 * \retval <0 see the page; `ZELSMBUS_ERROR_INVALID_PARAMETER` also when
 *         `writeCount` is above 32 or a required pointer is NULL.
 */
ZELSMBUS_API int32_t ZELSMBusBlockProcessCall(tSMBusHandle *handle, uint8_t address, uint8_t command,
                                 uint8_t writeCount, const uint8_t *writeData, int32_t pec,
                                 uint8_t *readCount, uint8_t *readData);
/**
 * \brief I2C block write: the command byte, then `length` data bytes.
 *
 * \param handle the session.
 * \param address 8-bit device address.
 * \param command the byte sent before the data (for an EEPROM, the offset).
 * \param length number of data bytes, 0 to #ZELSMBUS_I2C_MAX (256). An EEPROM
 *        writes within its page: bytes beyond the page's end wrap to its start.
 * \param data the bytes; may be NULL when `length` is 0.
 * \retval ZELSMBUS_WARNING_TRANSFER_DONE (50254) success.
 * \retval <0 see the page; `ZELSMBUS_ERROR_INVALID_PARAMETER` also when
 *         `length` is above 256 or `data` is NULL with a non-zero length.
 */
ZELSMBUS_API int32_t ZELSMBusWriteBlockI2C(tSMBusHandle *handle, uint8_t address, uint8_t command,
                              uint32_t length, const uint8_t *data);
/**
 * \brief I2C block read: the command byte, then `length` bytes read.
 *
 * A restricted session may read the chassis EEPROM (0xA4) this way on a port
 * that reaches it, even though 0xA4 is protected there; it may not write it.
 *
 * \param handle the session.
 * \param address 8-bit device address.
 * \param command the byte sent before reading (for an EEPROM, the offset).
 * \param length number of bytes, 0 to #ZELSMBUS_I2C_MAX (256).
 * \param data receives `length` bytes; unchanged on failure. May be NULL when
 *        `length` is 0.
 * \retval ZELSMBUS_WARNING_TRANSFER_DONE (50254) success.
 * \retval <0 see the page; `ZELSMBUS_ERROR_INVALID_PARAMETER` also when
 *         `length` is above 256 or `data` is NULL with a non-zero length.
 */
ZELSMBUS_API int32_t ZELSMBusReadBlockI2C(tSMBusHandle *handle, uint8_t address, uint8_t command,
                             uint32_t length, uint8_t *data);

/** @} */

/* ---- Bus lock and reset -------------------------------------------------- */

/**
 * \defgroup zelsmbus_lock Bus lock and reset
 * \brief Excluding other sessions from a port's bus.
 *
 * The lock is the driver's, one per port, and belongs to the connection of the
 * handle that took it (each handle has its own connection). It has no count:
 * locking again through the holding handle returns 0 and changes nothing, and
 * one ZELSMBusUnlock() releases it however often it was taken. While it is
 * held, a lock or a transaction through any other handle on that port waits
 * for its release; the driver decides how long (the simulated driver 100 ms by
 * default, `lock_timeout_ms`) and then answers `ZELSMBUS_ERROR_BUSY`. Threads
 * sharing one handle share its lock: it does not exclude them from each other.
 * Attributes, registers and the identity queries are not bus transactions and
 * do not wait. Unlock before ZELSMBusClose().
 * @{
 */

/**
 * \brief Takes the bus lock of the session's port.
 *
 * \param handle the session.
 * \retval 0 the session holds the lock (also when it held it already).
 * \retval ZELSMBUS_ERROR_NOT_FOUND (-52006) `handle` is NULL.
 * \retval ZELSMBUS_ERROR_BUSY (-52031) another session holds the lock and did
 *         not release it in the driver's waiting time.
 * \retval other a driver or system failure (\ref zelsmbus_statuses).
 */
ZELSMBUS_API int32_t ZELSMBusLock(tSMBusHandle *handle);
/**
 * \brief Releases the bus lock of the session's port.
 *
 * \param handle the session.
 * \retval 0 the lock is released, or no session held it.
 * \retval ZELSMBUS_ERROR_NOT_FOUND (-52006) `handle` is NULL.
 * \retval ZELSMBUS_ERROR_BUSY (-52031) another session holds the lock; it stays
 *         held.
 * \retval other a driver or system failure (\ref zelsmbus_statuses).
 */
ZELSMBUS_API int32_t ZELSMBusUnlock(tSMBusHandle *handle);
/**
 * \brief Not supported: the controllers have no bus reset.
 *
 * \param handle ignored; NULL is accepted.
 * \retval ZELSMBUS_ERROR_NOT_SUPPORTED (-52002) always.
 */
ZELSMBUS_API int32_t ZELSMBusResetBus(tSMBusHandle *handle);

/** @} */

/* ---- Attributes ----------------------------------------------------------- */

/**
 * \ingroup zelsmbus_attributes
 * \brief Reads an attribute.
 *
 * \param handle the session.
 * \param attribute an identifier of #ZELSMBusAttribute, or a register
 *        identifier from #ZELSMBUS_ATTR_REGISTER_FIRST to
 *        #ZELSMBUS_ATTR_REGISTER_LAST.
 * \param value receives the value, written at the attribute's width (1, 2, 4
 *        or 8 bytes, see the table on this page) and only on success.
 *        Attributes 301, 302 and 402 write an address (`const char *` or
 *        `const uint8_t *` stored in 8 bytes) valid until ZELSMBusClose().
 * \retval 0 success.
 * \retval ZELSMBUS_ERROR_NOT_FOUND (-52006) `handle` is NULL.
 * \retval ZELSMBUS_ERROR_INVALID_PARAMETER (-52005) `value` is NULL, or the
 *         identifier is unknown.
 * \retval ZELSMBUS_ERROR_PROTECTED (-26983) a full-access attribute or a
 *         register on a restricted session.
 * \retval ZELSMBUS_ERROR_NOT_SUPPORTED (-52002) attribute 302 on a controller
 *         whose device text is empty (the driver gives none), or attribute
 *         1006 on a controller whose flash is not of type 0x1010. Getting
 *         attribute 1006 sends the flash nothing but identifications and
 *         reads, and writes nothing to any device; a flag word that reads all
 *         ones is read a second time, which stands.
 * \retval ZELSMBUS_ERROR_TIMEOUT (-52007) attribute 1006: the flash interface
 *         did not become ready.
 * \retval ZELSMBUS_ERROR_OUT_OF_MEMORY (-52000) attribute 1006: no memory for
 *         the configuration block.
 * \retval ZELSMBUS_ERROR_BUSY (-52031) attribute 1006: a writer (an update or
 *         a set of the flag, in another program or thread) held the
 *         controller's flash lock for about 2 seconds (\ref zelsmbus_threads);
 *         call again when it is done.
 * \retval other a driver or system failure (\ref zelsmbus_statuses).
 */
ZELSMBUS_API int32_t ZELSMBusGetAttribute(tSMBusHandle *handle, uint32_t attribute, void *value);
/**
 * \ingroup zelsmbus_attributes
 * \brief Sets an attribute.
 *
 * Setting `ZELSMBUS_ATTR_UNRESTRICTED` (1001) to any non-zero value opens the
 * protected addresses and the full-access attributes to this session, 0 closes
 * them; it needs no access itself and concerns only this handle. Setting
 * `ZELSMBUS_ATTR_CONFIG_FLAG` (1006) rewrites a flash block and takes a while;
 * setting it to the state it has writes nothing. It holds the controller's
 * flash lock exclusively for the whole call (\ref zelsmbus_threads). The
 * block is read twice before it is erased (readings that differ fail before
 * anything is erased), the rewritten block must read back as the old one with
 * the new flag, and after any failure once the erase has begun the old block
 * must be shown back: it is read, and written back and checked when it
 * differs; when that cannot be done the call answers
 * `ZELSMBUS_ERROR_REGION_DAMAGED`. -52006, -52005, -26983, -52002, -52000 and
 * -52031 come only before anything is erased; -52003 and -52032 only after;
 * any other code may come before or after, with the block then back in
 * full.
 *
 * \param handle the session.
 * \param attribute an identifier of #ZELSMBusAttribute that can be set, or a
 *        register identifier.
 * \param value the new value, read at the attribute's width. Boolean
 *        attributes take any non-zero value as 1.
 * \retval 0 success.
 * \retval ZELSMBUS_ERROR_NOT_FOUND (-52006) `handle` is NULL.
 * \retval ZELSMBUS_ERROR_INVALID_PARAMETER (-52005) `value` is NULL, the
 *         identifier is unknown or read-only (101-108, 301-303, 401, 402, 1002,
 *         1003, 10004), or attribute 1006 found a configuration block it
 *         cannot safely rewrite (nothing was erased).
 * \retval ZELSMBUS_ERROR_PROTECTED (-26983) a full-access attribute or a
 *         register on a restricted session.
 * \retval ZELSMBUS_ERROR_NOT_SUPPORTED (-52002) attribute 1006 on a controller
 *         whose flash is not of type 0x1010.
 * \retval ZELSMBUS_ERROR_SYSTEM (-52003) attribute 1006: the block did not
 *         read back as written; its previous contents were written back and
 *         read back whole.
 * \retval ZELSMBUS_ERROR_REGION_DAMAGED (-52032) attribute 1006: once its
 *         erase had begun the previous contents could not be shown back (the
 *         write-back failed, the flash stayed busy, or its requests failed):
 *         the block may hold neither. Do not restart the board; set the
 *         attribute again.
 * \retval ZELSMBUS_ERROR_TIMEOUT (-52007) attribute 1006: the flash did not
 *         become ready (a device still busy after its wait is not erased or
 *         written again; after the erase that is -52032).
 * \retval ZELSMBUS_ERROR_OUT_OF_MEMORY (-52000) attribute 1006: no memory for
 *         the configuration block.
 * \retval ZELSMBUS_ERROR_BUSY (-52031) attribute 1006: another program or
 *         thread held the controller's flash lock for about 2 seconds;
 *         nothing was written.
 * \retval ZELSMBUS_ERROR_IO (-52024) attribute 1006: two readings of the
 *         block before the erase differed (nothing was erased), or a driver
 *         request failed with EIO or EPIPE.
 * \retval other a driver or system failure (\ref zelsmbus_statuses); a write
 *         to register 0 or 4 is refused by the driver.
 */
ZELSMBUS_API int32_t ZELSMBusSetAttribute(tSMBusHandle *handle, uint32_t attribute, const void *value);

/* ---- EEPROM and firmware --------------------------------------------------- */

/**
 * \defgroup zelsmbus_eeprom EEPROM and firmware
 * \brief Reading EEPROMs and updating a controller's firmware.
 *
 * The EEPROM reads address their device with an 8-bit **offset**: only the low
 * 8 bits of `offset` are used (0x1FC reads from 0xFC), and a read that runs past
 * offset 0xFF continues at 0x00, as such EEPROMs read sequentially. They reach
 * the first 256 bytes of the device only.
 * @{
 */

/**
 * \brief Reads bytes of an I2C EEPROM.
 *
 * \param handle the session.
 * \param address 8-bit device address; the low 8 bits are used.
 * \param offset the first byte; the low 8 bits are used. Reading wraps from
 *        0xFF to 0x00.
 * \param length number of bytes, 1 to #ZELSMBUS_I2C_MAX (256).
 * \param buffer receives `length` bytes; unchanged on failure.
 * \retval 0 success.
 * \retval ZELSMBUS_ERROR_NOT_FOUND (-52006) `handle` is NULL.
 * \retval ZELSMBUS_ERROR_INVALID_PARAMETER (-52005) `length` is 0 or above
 *         256, or `buffer` is NULL.
 * \retval ZELSMBUS_ERROR_PROTECTED (-26983) the address is protected and the
 *         session restricted (use ZELSMBusGetChassisEEPROM() for 0xA4).
 * \retval other the driver's answer, for example `ZELSMBUS_ERROR_IO` (-52024)
 *         when no device acknowledges (\ref zelsmbus_statuses).
 */
ZELSMBUS_API int32_t ZELSMBusReadI2CEEPROM(tSMBusHandle *handle, uint32_t address, uint32_t offset,
                              uint32_t length, uint8_t *buffer);
/**
 * \brief Reads bytes of the chassis EEPROM (address 0xA4) of the session's
 *        port.
 *
 * Any session may read it, restricted or not, on a port that reaches the
 * chassis EEPROM (attribute 1002).
 *
 * \param handle the session.
 * \param offset the first byte; the low 8 bits are used. Reading wraps from
 *        0xFF to 0x00.
 * \param length number of bytes, 1 to #ZELSMBUS_I2C_MAX (256).
 * \param buffer receives `length` bytes; unchanged on failure.
 * \retval 0 success.
 * \retval ZELSMBUS_ERROR_NOT_FOUND (-52006) `handle` is NULL.
 * \retval ZELSMBUS_ERROR_INVALID_PARAMETER (-52005) `length` is 0 or above
 *         256, or `buffer` is NULL.
 * \retval ZELSMBUS_ERROR_PROTECTED (-26983) the port does not reach the
 *         chassis EEPROM.
 * \retval other the driver's answer (\ref zelsmbus_statuses).
 */
ZELSMBUS_API int32_t ZELSMBusGetChassisEEPROM(tSMBusHandle *handle, uint32_t offset, uint32_t length,
                                 uint8_t *buffer);
/**
 * \brief Replaces the controller's firmware from an image in memory.
 *
 * Checks the image against the controller, erases and writes the firmware
 * region of its flash, reads it back and compares; one flash type then starts
 * the new firmware. The call takes seconds and may take minutes; it paces the
 * flash with sleeps. Any session may update, restricted or not.
 *
 * The call holds the controller's flash lock exclusively throughout (\ref
 * zelsmbus_threads): a second writer waits about 2 seconds and then gets
 * `ZELSMBUS_ERROR_BUSY`. It starts by identifying the flash and sends it
 * nothing else before it knows the device; once known, the device is brought
 * to rest by its own means, whatever a killed process left (an open transfer,
 * a write enable, 0xBF8E's programming mode, 0x9D17's port). Success means the
 * whole region read back as written (the image, its 0xFF fill and, on 0xBF8E,
 * the CRC-16 trailer in its last two bytes) and, on 0x9D17, that the boot
 * header that starts the new firmware read back too.
 *
 * -52006, -52031, -52002, -52019, -52023 and -52000 come only before anything
 * is erased: the flash is as it was. Any other failure may come after the
 * erase began. The region then holds the previous firmware in full on flash
 * type 0x1010 (saved before the erase from two readings that agree, and after
 * a failure shown back, by reading it and writing it back when it differs)
 * unless the call answers `ZELSMBUS_ERROR_REGION_DAMAGED`; on the other types
 * it may be erased or partly written: call again with the same image before
 * restarting the board. On every device a pin-out word the update erased is
 * programmed back, so that the same call can be made again; on 0x9D17, whose
 * update also erases sector 0 (the boot header's), a pin-out word kept there
 * is programmed back after a successful update too. The image format
 * and what is checked in which order are described in zelsmbus-image(5);
 * `zelsmbus-mkimage` makes images.
 *
 * \param handle the session.
 * \param length the image's size in bytes; only these bytes are read.
 * \param image the image: a text header of keyed fields, an empty line, one
 *        line of Base64.
 * \param flags #ZELSMBUS_FIRMWARE_FORCE accepts an image whose version is not
 *        newer than the installed one; other bits are ignored.
 * \retval 0 the firmware was written and verified (a positive code: the same,
 *         with the driver's first warning).
 * \retval ZELSMBUS_ERROR_NOT_FOUND (-52006) `handle` or `image` is NULL, or
 *         `length` is 0.
 * \retval ZELSMBUS_ERROR_INVALID_PARAMETER (-52005) the controller lacks the
 *         flash signature; the header lacks a field, the empty line or the
 *         payload; the update type is not "FWUpdate"; the version is not newer
 *         and `flags` does not force it; or, once erasing, flash type 0x9D17
 *         refused a write enable or reported an error.
 * \retval ZELSMBUS_ERROR_NOT_SUPPORTED (-52002) the header version is not 1
 *         or 2; the flash type is unknown or the offset does not suit it (0 on
 *         0x1010; on 0xBF8E a multiple of 0x10000, at most 0xF80000); the
 *         subsystem identifier differs from the controller's; the image's
 *         pin-out version differs from the low byte of the board's pin-out
 *         word (bits 8 to 15 on 0x9D17; a word read as all ones is read again,
 *         and an erased word is version 255); on 0x9D17 the pin-out address
 *         lies in the boot header (below 0x24). Nothing was erased.
 * \retval ZELSMBUS_ERROR_TOO_LARGE (-52019) the firmware is larger than the
 *         flash region (on 0xBF8E: reaches into its two trailer bytes);
 *         nothing was erased.
 * \retval ZELSMBUS_ERROR_IO (-52024) on 0x1010, two readings of the region
 *         to be saved differed (nothing was erased); or a driver request
 *         failed with EIO or EPIPE, possibly after the erase.
 * \retval ZELSMBUS_ERROR_CORRUPT_DATA (-52023) the decoded payload's length or
 *         checksum differs from the header's; nothing was erased.
 * \retval ZELSMBUS_ERROR_VERIFY_FAILED (-52018) the region (or 0x9D17's boot
 *         header, or a pin-out word it keeps in sector 0) read back differs
 *         from what was written; on 0x1010 the
 *         previous firmware is back in full, elsewhere call again with the
 *         same image before restarting the board.
 * \retval ZELSMBUS_ERROR_REGION_DAMAGED (-52032) 0x1010 only: once its erase
 *         had begun the previous firmware could not be shown back in full (the
 *         write-back failed, the device stayed busy, or its requests failed),
 *         so the region may hold neither: do not restart the board, repeat
 *         the update.
 * \retval ZELSMBUS_ERROR_TIMEOUT (-52007) the flash did not become ready,
 *         before or after the erase began; a device still busy after its wait
 *         is not erased or written again, and the call returns within three
 *         of its waits.
 * \retval ZELSMBUS_ERROR_BUSY (-52031) another program or thread held the
 *         controller's flash lock for about 2 seconds; nothing was written.
 * \retval ZELSMBUS_ERROR_OUT_OF_MEMORY (-52000) no memory for the region;
 *         nothing was erased.
 * \retval ZELSMBUS_ERROR_PIN_OUT_ERASED (-52030) no longer returned: an
 *         erased pin-out word reads as version 255 (-52002 for other images).
 * \retval other a driver or system failure (\ref zelsmbus_statuses), possibly
 *         after the erase.
 */
ZELSMBUS_API int32_t ZELSMBusWriteFirmware(tSMBusHandle *handle, uint32_t length, const void *image,
                              uint32_t flags);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* ZELSMBUS_H */
