// Where the firmware command keeps its files (the state directory, and the
// folders a journal may be found in), and how it writes a file so that it
// holds the old or the new contents in full.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "boardIdentity.h"

namespace zelsmbus_tool {

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

// Creates a folder (and its parents), mode 0700; throws ToolError.
void makeStateFolder(const std::string &path);
// Flushes the folder that holds path, so that a rename or removal in it
// reaches the disk.
void syncFolderOf(const std::string &path);

}  // namespace zelsmbus_tool
