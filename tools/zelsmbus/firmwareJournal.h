// What the firmware command keeps on disk so that an update stopped by a kill
// or a power cut can be told about and completed: a journal of the update
// under way, one per board, in the state directory (see stateFiles.h), named
// after the board (boardIdentity.h). It is replaced atomically and carries a
// check of its own contents.
#pragma once

#include <zelsmbus.h>

#include <cstdint>
#include <optional>
#include <string>

#include "boardIdentity.h"
#include "stateFiles.h"

namespace zelsmbus_tool {

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

}  // namespace zelsmbus_tool
