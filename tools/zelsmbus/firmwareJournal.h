// What the firmware command keeps on disk so that an update stopped by a kill
// or a power cut can be told about and completed: the backup of the installed
// firmware and a journal of the update under way, one of each per controller,
// in the state directory. Every file is replaced atomically.
#pragma once

#include <zelsmbus.h>

#include <cstdint>
#include <optional>
#include <string>

namespace zelsmbus_tool {

struct FirmwareJournal {
    std::string resource;           // the controller, as named on the command line
    // The board it was, and where: an update is resumed only on that board.
    // Empty or zero where a journal written by an older zelsmbus lacks them.
    std::string pciLocation;        // "04:00.0"
    uint32_t subsystemId = 0;
    uint16_t flashId = 0;
    uint32_t installedVersion = 0;  // attribute 303 when the update began
    bool installedVersionKnown = false;
    std::string world;              // "hardware", or the simulated world's identity
    uint32_t pinOutAddress = 0;     // the pin-out word read before the update
    uint32_t pinOutWord = 0;
    bool pinOutKnown = false;
    std::string image;              // absolute path of the image being written
    std::string backup;             // absolute path of the backup, empty with --no-backup
    std::string phase;              // "writing", or "failed CODE"
    std::string started;            // local time the update started
};

// Where backups and journals are kept. On the hardware: $XDG_STATE_HOME/zelsmbus,
// ~/.local/state/zelsmbus, or /var/lib/zelsmbus for root. Under the simulator
// never there: in the world's own folder ($ZELSIM_STATE_DIR/zelsmbus, which
// zelsim names and removes with the world), or, for a world inside this
// process (zelsim --in-process) without ZELSIM_STATE_DIR, in a temporary
// folder removed when the command ends. Created, mode 0700, by the first file
// written into it. Throws ToolError when there is none.
std::string firmwareStateDirectory();

// The world this command's boards are in: "hardware", or a simulated world's
// identity.
std::string currentWorld();

// The board the session reaches, as a journal records it (the pin-out word at
// pinOutAddress names the flash device).
void recordBoard(FirmwareJournal &journal, tSMBusHandle *handle, const std::string &resource,
                 uint32_t pinOutAddress);

// The journal of the update under way on this resource's board, if any. A
// journal that another board or world wrote (another PCI location,
// subsystem, flash device, installed version or world) is never resumed: it
// is renamed to FILE.other and the command says so.
std::optional<FirmwareJournal> readJournalOfBoard(const std::string &path,
                                                  const std::string &resource);
// The file names of one controller's journal and default backup.
std::string journalPath(const std::string &resource);
std::string defaultBackupPath(const std::string &resource);
std::string installedRecordPath(const std::string &resource);

std::optional<FirmwareJournal> readJournal(const std::string &path);
void writeJournal(const std::string &path, const FirmwareJournal &journal);
void removeJournal(const std::string &path);

// Writes the file under a temporary name beside it, flushes it to the disk and
// renames it into place (creating a missing folder), so that the name holds the old or the new contents in
// full, never a part. Throws ToolError on failure.
void writeFileAtomically(const std::string &path, const std::string &contents);

std::string absolutePath(const std::string &path);
std::string localTimeNow();

}  // namespace zelsmbus_tool
