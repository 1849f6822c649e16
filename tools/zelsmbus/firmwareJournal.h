// What the firmware command keeps on disk so that an update stopped by a kill
// or a power cut can be told about and completed: the backup of the installed
// firmware and a journal of the update under way, one of each per board, in
// the state directory. Both are named after the board (its PCI location and
// identity and its flash device), never after the name typed for it, which
// can reach another board after a renumbering. Every file is replaced
// atomically.
#pragma once

#include <zelsmbus.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelsmbus_tool {

// The board a session reaches, as journals and backups record it.
struct BoardIdentity {
    std::string world;        // "hardware", or the simulated world's identity
    std::string pciLocation;  // "04:00.0"
    uint16_t vendorId = 0, deviceId = 0, subsystemVendorId = 0, subsystemId = 0;
    // 0: the flash did not name a device the library knows (a writer killed
    // in the middle may leave it answering all ones until it is brought to
    // rest).
    uint16_t flashId = 0;

    // The stem of this board's file names: "board-04.00.0-8086.1234.8086.7a51"
    // (the flash identifier is checked inside the files: a flash left busy by
    // a killed update does not identify itself).
    std::string fileStem() const;
    // The same board: the same world, PCI location and identity, and the same
    // flash device where both sides know it.
    bool matches(const BoardIdentity &other) const;
    // One line: "world=...;pci=...;ids=...;flash=..." (the form files carry).
    std::string text() const;
    static std::optional<BoardIdentity> fromText(const std::string &text);
    // For people: "PCI 04:00.0, ids 8086:1234 8086:7a51, flash 0x1010".
    std::string describe() const;
    bool operator==(const BoardIdentity &other) const { return text() == other.text(); }
    bool operator!=(const BoardIdentity &other) const { return !(*this == other); }
};

// Reads the board's identity: PCI attributes, and the flash identifier under
// the flash writer lock (which is let go again). Throws ToolError.
BoardIdentity identifyBoard(tSMBusHandle *handle, const std::string &resource);
// The same without the flash identifier (flashId 0), for a caller that holds
// the lock and knows the flash already.
BoardIdentity boardAttributes(tSMBusHandle *handle, const std::string &resource);

// The payload of a firmware image, as the journal and a backup name it.
struct ImageFacts {
    uint32_t version = 0;
    uint32_t byteCount = 0;
    uint32_t crc = 0;
    bool operator==(const ImageFacts &o) const {
        return version == o.version && byteCount == o.byteCount && crc == o.crc;
    }
};

struct FirmwareJournal {
    BoardIdentity board;
    std::string resource;           // the name typed, for messages only
    uint32_t installedVersion = 0;  // attribute 303 when the update began
    bool installedVersionKnown = false;
    uint32_t pinOutAddress = 0;     // the pin-out word read before the update
    uint32_t pinOutWord = 0;
    bool pinOutKnown = false;
    std::string image;              // absolute path of the image being written
    std::optional<ImageFacts> imageFacts;   // unknown in a journal of an older zelsmbus
    std::string backup;             // absolute path of the backup, empty with --no-backup
    std::optional<ImageFacts> backupFacts;  // what the backup held when it was taken
    std::string flags;              // options the update was run with ("--force")
    std::string phase;              // "writing", or "failed CODE"
    std::string started;            // local time the update started
};

// The journal's text and back; readJournalText says why a text is not one.
std::string journalText(const FirmwareJournal &journal);
struct JournalReading {
    std::optional<FirmwareJournal> journal;
    std::string problem;  // empty when journal is set
};
JournalReading readJournalText(const std::string &text);

// Where backups and journals are kept. On the hardware: $XDG_STATE_HOME/zelsmbus,
// ~/.local/state/zelsmbus, or /var/lib/zelsmbus for root. Under the simulator
// never there: in the world's own folder ($ZELSIM_STATE_DIR/zelsmbus, which
// zelsim names and removes with the world), or, for a world inside this
// process (zelsim --in-process) without ZELSIM_STATE_DIR, in a temporary
// folder removed when the command ends. Created, mode 0700, by the first file
// written into it. Throws ToolError when there is none.
std::string firmwareStateDirectory();

// The folders a journal of the hardware is looked for in: where this run
// keeps them first (for root always /var/lib/zelsmbus, whatever the
// environment says, so that `sudo` finds what a root shell left), then every
// other folder a run of this tool on this machine may have used (the state
// directory, $XDG_STATE_HOME, $HOME's, the invoking user's under sudo,
// /var/lib/zelsmbus). Under the simulator only the world's folder.
std::vector<std::string> journalFolders();

// The world this command's boards are in: "hardware", or a simulated world's
// identity.
std::string currentWorld();

// The journal of one board, held for the whole command: a lock beside it
// keeps a second zelsmbus run for the same board from starting (it is told
// which process is at work), so that no run replaces or removes another's
// journal. The constructor finds the journal and reads it; one that exists
// but cannot be read, or one that an older zelsmbus left under the typed name
// and that does not surely name this board, stops the command (ToolError).
// One of another world is set aside as FILE.other. A dry run takes no lock
// and creates nothing.
class BoardJournal {
public:
    BoardJournal(const BoardIdentity &board, const std::string &resource, bool dryRun);
    ~BoardJournal();
    BoardJournal(const BoardJournal &) = delete;
    BoardJournal &operator=(const BoardJournal &) = delete;

    const std::optional<FirmwareJournal> &unfinished() const { return unfinished_; }
    const std::string &path() const { return path_; }
    void write(const FirmwareJournal &journal);  // throws ToolError
    void remove();                               // throws ToolError

private:
    std::string path_;
    std::string legacyPath_;  // a journal an older zelsmbus wrote, taken over
    std::optional<FirmwareJournal> unfinished_;
    int lock_ = -1;
};

// The file names of one board's default backup and installed-image record.
std::string defaultBackupPath(const BoardIdentity &board);
std::string installedRecordPath(const BoardIdentity &board);
// Where an older zelsmbus kept them, by the name typed.
std::string legacyBackupPath(const std::string &resource);
std::string legacyJournalPath(const std::string &resource);

// Writes the file under a temporary name beside it, flushes it to the disk and
// renames it into place (creating a missing folder), so that the name holds
// the old or the new contents in full, never a part. A path that names a
// device node or a FIFO (directly or through a symbolic link) is written in
// place, never replaced; a symbolic link to a file stays a link and the file
// it names is replaced. Throws ToolError on failure.
void writeFileAtomically(const std::string &path, const std::string &contents);

// What an existing path is, following symbolic links: nullopt when nothing is
// there, else whether it is a regular file.
std::optional<bool> isRegularFile(const std::string &path);

std::string absolutePath(const std::string &path);
std::string localTimeNow();

}  // namespace zelsmbus_tool
