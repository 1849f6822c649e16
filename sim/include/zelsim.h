/*
 * Control interface of the simulated SMBus driver (libzelsim.so).
 *
 * The simulator stands in for the kernel driver: it publishes a driver tree
 * under /proc/driver/zel/ (redirected into a private temporary directory),
 * answers open/ioctl/close on the node paths it published, and serves the
 * chassis list to the stand-in chassis-query library. Tests use the functions
 * below to choose the world, inject faults, read the command log and look at
 * or change device state. Every function is thread-safe.
 *
 * Nodes are numbered 0, 1, ... in the order of [[device]] in the world file.
 * Device addresses are 8-bit (the 7-bit address shifted left by one), as the
 * library passes them; bit 0 is ignored when a target is looked up.
 * Functions returning int answer 0 on success and -1 when the node, port,
 * target or command does not exist (or the world text is invalid).
 *
 * The functions act on the world inside the calling process: run the program
 * under `zelsim --in-process` (or link it with libzelsim.so before the C
 * library). In a process that uses a shared world (under `zelsim` without
 * --in-process, or after zelsim_use_server) they cannot reach it and refuse:
 * an int answers -1, a pointer NULL, a count 0, and a void function does
 * nothing; zelsim_last_error() says so. zelsim_last_error,
 * zelsim_default_world_text, zelsim_command_info, zelsim_set_smbios_path,
 * zelsim_use_server, zelsim_tree_root (the server's tree) and the chassis
 * functions (the world file's chassis, which the stand-in chassis-query
 * library reads in every process) work in both.
 * The shell controls a shared world: zelsim fault, zelsim snapshot,
 * zelsim reset (zelsim(1)).
 *
 * Build with `pkg-config --cflags --libs zelsim`; the reference is zelsim(3),
 * the simulated driver's behaviour the README in /usr/share/doc/zelsim/ (in
 * the source tree sim/README.md).
 */
#ifndef ZELSIM_H
#define ZELSIM_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define ZELSIM_API __attribute__((visibility("default")))
#else
#define ZELSIM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Driver status words the simulator answers on its own (see the README). */
#define ZELSIM_STATUS_NACK (-52024)      /* the addressed device did not acknowledge */
#define ZELSIM_STATUS_BUSY (-52031)      /* the bus lock is held by another descriptor */
#define ZELSIM_STATUS_BAD_PORT (-52005)  /* port index beyond the node's ports */
#define ZELSIM_STATUS_READ_ONLY (-52005) /* write to a read-only register */
#define ZELSIM_STATUS_BAD_LENGTH (-52005) /* block count above 32, I2C length above 256 */

/* ---- world ------------------------------------------------------------ */

/* Load a world from a TOML file or from TOML text. The driver tree is
 * rebuilt; descriptors opened before stay open but are stale (their ioctls
 * fail with ENODEV). On a parse or schema error the current world stays and
 * -1 is returned; zelsim_last_error() then tells why. */
ZELSIM_API int zelsim_load_world_file(const char *path);
ZELSIM_API int zelsim_load_world_text(const char *toml_text);
ZELSIM_API const char *zelsim_last_error(void);

/* The built-in default world (also a fresh reset of faults, log, counters,
 * SMBIOS redirect and virtual clock). ZELSIM_WORLD is not consulted again. */
ZELSIM_API void zelsim_reset(void);
/* The same fresh start with the world of the file `path` (NULL: the built-in
 * world), in one step: every command runs wholly before or wholly after it.
 * A file that cannot be read (a directory, no permission), is empty or does
 * not parse leaves everything as it was and returns -1 (zelsim_last_error()
 * tells why); 0 otherwise. */
ZELSIM_API int zelsim_reset_to_file(const char *path);
/* Forget every pending fault (the world and its state stay). */
ZELSIM_API void zelsim_clear_faults(void);

/* The text of the built-in default world (TOML). */
ZELSIM_API const char *zelsim_default_world_text(void);

/* Root of the private temporary tree (its proc/driver/zel mirrors
 * /proc/driver/zel). */
ZELSIM_API const char *zelsim_tree_root(void);

ZELSIM_API unsigned zelsim_node_count(void);
/* Number of ports the node's numPorts property announces. */
ZELSIM_API unsigned zelsim_port_count(unsigned node);
/* Node path published in the node's interfacePath file; NULL if no node.
 * The text stays valid until the next call of this function in the thread. */
ZELSIM_API const char *zelsim_node_path(unsigned node);
/* Node a simulated descriptor is open on, or -1 when fd is not one. */
ZELSIM_API int zelsim_node_of_fd(int fd);

/* ---- faults --------------------------------------------------------------- */

enum zelsim_call {
    ZELSIM_CALL_OPEN = 0, /* open, open64, __open_2, __open64_2, openat, openat64 */
    ZELSIM_CALL_CLOSE,
    ZELSIM_CALL_IOCTL,
    ZELSIM_CALL_READ,
    ZELSIM_CALL_WRITE,
    ZELSIM_CALL_MMAP,
    ZELSIM_CALL_FOPEN, /* fopen, fopen64 of files in the driver tree */
    ZELSIM_CALL_GLOB,  /* glob, glob64 of patterns under /proc/driver/zel/ */
    ZELSIM_CALL_KIND_COUNT
};

/* The next `count` calls of `kind` on simulated paths or nodes fail with
 * errno `err` (no effect on the device). A failing close still closes. */
ZELSIM_API void zelsim_fail_call(enum zelsim_call kind, int err, unsigned count);
/* The next `count` ioctls of driver command `command` (0x02..0x2F) fail with
 * errno `err`; the output buffer is left untouched. */
ZELSIM_API void zelsim_fail_command(unsigned command, int err, unsigned count);
/* The next `count` replies to `command` carry driver status word `word`; the
 * command still runs and its outputs are still filled. */
ZELSIM_API void zelsim_set_driver_status(unsigned command, int32_t word, unsigned count);
/* The next `count` globs under /proc/driver/zel/ return `result`
 * (e.g. GLOB_ABORTED, GLOB_NOSPACE) with an empty result. */
ZELSIM_API void zelsim_fail_glob(int result, unsigned count);

/* The target at `address` (8-bit form) on a port stops acknowledging
 * (`silent` non-zero), or answers with every byte it sends xor'ed with
 * `corrupt_mask` (0: correct answers). Kept until zelsim_clear_faults or a
 * new world. -1 when the port has no such target. */
ZELSIM_API int zelsim_fault_target(unsigned node, unsigned port, unsigned address, int silent,
                                   uint8_t corrupt_mask);
/* The port's bus stays locked by no descriptor: every lock and transaction
 * waits lock_timeout_ms and answers ZELSIM_STATUS_BUSY until
 * zelsim_clear_faults. -1 for a port that does not exist. */
ZELSIM_API int zelsim_hold_bus(unsigned node, unsigned port);
/* The world's state as world-file text (TOML) that loads back to the same
 * state: EEPROM and register contents, attributes, flash contents and
 * firmware versions, and everything the world file gave. Faults, locks, the
 * log, pointers and a flash's transient state (busy, write enable, an open
 * command) are not part of it. The caller frees the text with free(); NULL
 * when out of memory. */
ZELSIM_API char *zelsim_world_snapshot(void);

/* Make a file of a node's directory unopenable: `file` is "interfacePath" or
 * a property name such as "numPorts". Every fopen of it fails with `err`
 * (0 makes it openable again). */
ZELSIM_API int zelsim_make_unopenable(unsigned node, const char *file, int err);
/* How many fopen attempts reached that file since the world was loaded. */
ZELSIM_API unsigned zelsim_fopen_attempts(unsigned node, const char *file);

/* The settings below (0x2F refusal, raw file contents, no tree) last until
 * the world is loaded again or reset; zelsim_clear_faults leaves them alone.
 *
 * Command 0x2F on this node: err != 0 makes the ioctl fail with that errno;
 * otherwise a non-zero `word` is answered as the driver status word with an
 * empty text. err == 0 and word == 0 restore the normal answer. */
ZELSIM_API int zelsim_refuse_device_string(unsigned node, int err, int32_t word);

/* Raw content of a node's interfacePath file / properties/<name> file
 * (e.g. 255 or 256 bytes of path, 4 or 5 bytes of numPorts). */
ZELSIM_API int zelsim_set_interface_path(unsigned node, const void *bytes, size_t length);
ZELSIM_API int zelsim_set_property(unsigned node, const char *name, const void *bytes,
                                   size_t length);
/* present == 0: no /proc/driver/zel tree at all (glob finds nothing). */
ZELSIM_API void zelsim_set_tree_present(int present);

/* ---- log --------------------------------------------------------------------- */

#define ZELSIM_LOG_BYTES 272

struct zelsim_log_record {
    int fd;                        /* descriptor the ioctl was made on */
    int node;                      /* node of that descriptor, -1 if stale */
    uint32_t request;              /* request code as passed to ioctl */
    unsigned command;              /* its low 8 bits */
    uint32_t in_size;              /* envelope's input size */
    uint32_t out_size;             /* envelope's output size */
    uint8_t in[ZELSIM_LOG_BYTES];  /* input bytes (zero unless the sizes fit the command) */
    uint8_t out[ZELSIM_LOG_BYTES]; /* output bytes written by the simulator */
    uint32_t out_written;          /* how many output bytes were written (0 on failure) */
    int err;                       /* errno of a failed ioctl, else 0 */
    int32_t driver_status;         /* driver status word answered (0 on failure) */
};

ZELSIM_API size_t zelsim_log_count(void);
ZELSIM_API int zelsim_log_entry(size_t index, struct zelsim_log_record *entry);
ZELSIM_API void zelsim_log_clear(void);

/* System calls made on simulated paths or nodes, per kind, since the last
 * clear (for "no system call made" checks). */
ZELSIM_API unsigned long zelsim_call_count(enum zelsim_call kind);
ZELSIM_API void zelsim_clear_call_counts(void);

/* ---- device state ------------------------------------------------------------ */

/* Bytes of an I2C EEPROM (including the chassis EEPROM at 0xA4); offsets wrap
 * at 256. */
ZELSIM_API int zelsim_eeprom_read(unsigned node, unsigned port, unsigned address, unsigned offset,
                                  void *buffer, size_t length);
ZELSIM_API int zelsim_eeprom_write(unsigned node, unsigned port, unsigned address, unsigned offset,
                                   const void *buffer, size_t length);

/* SMBus register device, seen as the wire sees it: a byte is the first byte a
 * transfer at `command` moves, a word the first two (the first in the low
 * bits, as a read word answers), a block the `count` bytes from `command` on
 * (setting it also sets the count a block read of `command` answers). For a
 * device with layout "words_msb_first" the first byte is the register's most
 * significant one. */
ZELSIM_API int zelsim_target_byte(unsigned node, unsigned port, unsigned address, unsigned command,
                                  uint8_t *value);
ZELSIM_API int zelsim_set_target_byte(unsigned node, unsigned port, unsigned address,
                                      unsigned command, uint8_t value);
ZELSIM_API int zelsim_target_word(unsigned node, unsigned port, unsigned address, unsigned command,
                                  uint16_t *value);
ZELSIM_API int zelsim_set_target_word(unsigned node, unsigned port, unsigned address,
                                      unsigned command, uint16_t value);
ZELSIM_API int zelsim_target_block(unsigned node, unsigned port, unsigned address, unsigned command,
                                   uint8_t data[32], uint8_t *count);
ZELSIM_API int zelsim_set_target_block(unsigned node, unsigned port, unsigned address,
                                       unsigned command, const uint8_t *data, uint8_t count);
/* PEC flag (0 or 1) of the last transaction that carries one on the port;
 * -1 before any. */
ZELSIM_API int zelsim_last_pec(unsigned node, unsigned port);

/* Per-port attribute values by identifier (10001, 10002, 10003, 10004, 10005,
 * 2001, 3001, 3002, 1004, 1005). Setting 10004 here is how a test changes the
 * read-only value. */
ZELSIM_API int zelsim_port_attribute(unsigned node, unsigned port, unsigned attribute,
                                     uint32_t *value);
ZELSIM_API int zelsim_set_port_attribute(unsigned node, unsigned port, unsigned attribute,
                                         uint32_t value);

/* Descriptor holding the port's bus lock, or -1 when free. */
ZELSIM_API int zelsim_lock_owner(unsigned node, unsigned port);

/* Controller registers (commands 0x18/0x19), bypassing nothing: the same
 * register space the commands reach. The return value is the driver status
 * word the access produced (0 on success); -1 when no such node. */
ZELSIM_API int zelsim_register_read(unsigned node, uint32_t offset, uint32_t *value);
ZELSIM_API int zelsim_register_write(unsigned node, uint32_t offset, uint32_t value);

/* ---- chassis ------------------------------------------------------------ */

#define ZELSIM_TEXT_MAX 256

struct zelsim_chassis {
    uint32_t number;
    char model[ZELSIM_TEXT_MAX];  /* string attribute 4096 */
    char vendor[ZELSIM_TEXT_MAX]; /* string attribute 4097 */
    char serial[ZELSIM_TEXT_MAX]; /* string attribute 4100 */
    char slot1[ZELSIM_TEXT_MAX];  /* string attribute 8201 of slot 1 */
};

ZELSIM_API size_t zelsim_chassis_count(void);
/* Chassis by position in the world's list (0-based); texts are cut to
 * ZELSIM_TEXT_MAX - 1 characters. */
ZELSIM_API int zelsim_chassis_info(size_t index, struct zelsim_chassis *info);

/* ---- virtual time ---------------------------------------------------------- */

/* On (the default): nanosleep returns at once and adds the requested time to
 * the virtual clock. Off: nanosleep sleeps for real (still counted). */
ZELSIM_API void zelsim_set_virtual_time(int on);
ZELSIM_API int zelsim_virtual_time(void); /* 1 on, 0 off, -1 in a shared world */
/* Virtual nanoseconds slept so far and nanosleep calls made (both counted
 * since the last reset). */
ZELSIM_API uint64_t zelsim_virtual_ns(void);
ZELSIM_API uint64_t zelsim_nanosleep_calls(void);
ZELSIM_API void zelsim_reset_virtual_clock(void);

/* ---- SMBIOS dump ------------------------------------------------------------ */

/* open/fopen of "/run/zelplat/smbios/smbiosdmp" reach this file; NULL (the
 * default) makes the dump missing (ENOENT). */
ZELSIM_API void zelsim_set_smbios_path(const char *path);

/* ---- shared world ----------------------------------------------------------- */

/* Send this process's node calls (open, ioctl, close of /dev/zelsmbus<n>),
 * nanosleep and the /proc/driver/zel/ tree to the world server listening on
 * `socket_path` (what ZELSIM_SERVER names under the launcher), or back to
 * the in-process world with NULL. Nodes opened before stay with the world
 * they were opened in. While a server is used, the rest of this interface
 * refuses (see the top of this file). Returns 0, or -1 when the server cannot
 * be reached. */
ZELSIM_API int zelsim_use_server(const char *socket_path);

/* ---- command table ---------------------------------------------------------- */

struct zelsim_field {
    const char *name;
    uint8_t output; /* 0 input buffer, 1 output buffer */
    uint16_t offset;
    uint16_t width;
};

struct zelsim_command {
    unsigned number;
    uint32_t request;
    uint32_t in_size;
    uint32_t out_size;
    const char *name;                  /* method name, e.g. "readByte" */
    const struct zelsim_field *fields; /* every input and output field, st included */
    unsigned field_count;
};

/* The simulator's own table of the 44 driver commands. -1 for a number
 * without a command. */
ZELSIM_API int zelsim_command_info(unsigned number, struct zelsim_command *info);

/* ---- controller flash (flash model, see the README's "Flash") --------------
 * Every node's registers 0, 4, 64-76 and 0x2000-0x2014 are served by a model
 * of its flash device (world key flash_id). These calls reach its array and
 * faults directly; -1 when the node does not exist. */

enum zelsim_flash_fault {
    ZELSIM_FLASH_INTERFACE_STUCK =
        0, /* value != 0: serial ready bit never set, indirect port always busy */
    ZELSIM_FLASH_DEVICE_BUSY,   /* value != 0: the flash reports busy for ever and does nothing */
    ZELSIM_FLASH_DROP_PROGRAMS, /* the next `value` program operations leave the array unchanged */
    ZELSIM_FLASH_STATUS_BITS,   /* or'ed into every indirect device status (e.g. 0x40, an error) */
    ZELSIM_FLASH_MISS_IDENTIFY, /* the next `value` identifications (0xAB) go unanswered: 0xFF */
    ZELSIM_FLASH_MISS_READ,     /* the next `value` array reads (0x03) go unanswered: all 0xFF */
    ZELSIM_FLASH_MISS_DATA_WORD /* the `value`-th read of register 76 from now (1: the next)
                                   answers all ones without an error, as an unanswered PCI
                                   read does; 0 cancels */
};

/* Size of the node's flash array in bytes (0: no array, or no node). */
ZELSIM_API size_t zelsim_flash_size(unsigned node);
/* Bytes of the flash array; outside it reads give 0xFF and writes do nothing. */
ZELSIM_API int zelsim_flash_read(unsigned node, uint32_t address, void *buffer, size_t length);
ZELSIM_API int zelsim_flash_write(unsigned node, uint32_t address, const void *buffer,
                                  size_t length);
ZELSIM_API int zelsim_flash_fault(unsigned node, enum zelsim_flash_fault fault, uint32_t value);
/* What the flash identifies as and what register 0 reads (a wrong identifier or signature). */
ZELSIM_API int zelsim_flash_set_identity(unsigned node, uint16_t flash_id, uint32_t signature);
/* Register 4, the installed firmware version. */
ZELSIM_API int zelsim_flash_set_version(unsigned node, uint32_t version);
/* The serial instructions that began a command on the node's serial port
 * since the last call with `clear` set (or since the world was made), as a
 * bit mask: bit (i % 8) of seen[i / 8] for instruction i. Every instruction
 * counts, also one the device does not answer. */
ZELSIM_API int zelsim_flash_instructions(unsigned node, uint8_t seen[32], int clear);
/* How often the node's new firmware was started (0x9D17 activation). */
ZELSIM_API int zelsim_flash_activations(unsigned node, unsigned *count);

/* The flash device's state between calls: what a flash operation should have
 * ended. A procedure that ends what it started leaves selected, write_enabled,
 * auto_increment, indirect_transfer_open and reset_granted at 0 and (0xBF8E)
 * protection at 0x3C; busy may still be 1 for the time the device needs. */
struct zelsim_flash_state {
    int selected;                /* serial port: chip select held, a command left open */
    uint8_t open_instruction;    /* that command's instruction byte (0 when none) */
    int write_enabled;           /* the write-enable latch */
    uint8_t status_register;     /* serial status register as instruction 0x05 reads it */
    uint8_t protection;          /* 0xBF8E block-protection bits (0x3C every block, 0 none);
                                    0 on the other devices */
    int auto_increment;          /* 0xBF8E auto-increment programming mode */
    int busy;                    /* erasing or programming (or faulted busy) */
    uint64_t busy_ns_left;       /* clock time until ready (0 when idle or faulted busy) */
    int indirect_transfer_open;  /* indirect port: a transfer opened (1) and not closed (2) */
    int reset_granted;           /* indirect port: reset access granted and not released */
};
ZELSIM_API int zelsim_flash_device_state(unsigned node, struct zelsim_flash_state *state);

#ifdef __cplusplus
}
#endif

#endif /* ZELSIM_H */
