// What the firmware command keeps on disk so that an update stopped by a kill
// or a power cut can be told about and completed: the backup of the installed
// firmware and a journal of the update under way, one of each per controller,
// in the state directory. Every file is replaced atomically.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zelsmbus_tool {

struct FirmwareJournal {
    std::string resource;           // the controller, as named on the command line
    uint32_t subsystemId = 0;       // the board it was
    uint16_t flashId = 0;
    uint32_t pinOutAddress = 0;     // the pin-out word read before the update
    uint32_t pinOutWord = 0;
    bool pinOutKnown = false;
    std::string image;              // absolute path of the image being written
    std::string backup;             // absolute path of the backup, empty with --no-backup
    std::string phase;              // "writing", or "failed CODE"
    std::string started;            // local time the update started
};

// $XDG_STATE_HOME/zelsmbus, ~/.local/state/zelsmbus, or /var/lib/zelsmbus for
// root (created, mode 0700, by the first file written into it). Throws
// ToolError when there is none.
std::string firmwareStateDirectory();
// The file names of one controller's journal and default backup.
std::string journalPath(const std::string &resource);
std::string defaultBackupPath(const std::string &resource);

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
