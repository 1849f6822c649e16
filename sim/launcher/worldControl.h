// Starting, finding, asking and stopping world servers for the launcher.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace zelsim::launcher {

// Where the libraries are, relative to the launcher itself.
struct Layout {
    std::string simulatorLibrary;  // libzelsim.so
    std::string chassisDirectory;  // the directory of the stand-in libzelqpxi.so.1
    std::string self;              // this program
};
Layout findLayout();

// The directory of the started world: $ZELSIM_RUNTIME_DIR, else
// $XDG_RUNTIME_DIR/zelsim, else /tmp/zelsim-<uid>.
std::string runtimeDirectory();
std::string socketPath(const std::string &directory);
// True when `directory` is the user's own with mode 0700, or does not exist;
// otherwise says why not (unless `quiet`) and what to do.
bool ownDirectory(const std::string &directory, bool quiet);

// True when a server holds the directory's world.
bool running(const std::string &directory);

enum class Detach { No, Yes };
// Starts a server for `world` ("" for the built-in world) in `directory`
// and waits until it accepts clients. On failure prints why and returns -1;
// otherwise the server's process id.
pid_t startServer(const Layout &layout, const std::string &directory, const std::string &world,
                  Detach detach);

// One request to a running server (Info, Reset, Stop); false when it cannot
// be reached. `text` receives the reply's data.
bool ask(const std::string &directory, unsigned op, int &ret, std::string &text,
         const void *data = nullptr, uint32_t length = 0);

// Stops the server of `directory` and waits until it is gone.
bool stopServer(const std::string &directory);

// Removes what a server that is no longer running left in `directory`, and
// the directory itself.
void removeWorldDirectory(const std::string &directory);

// The folder of `directory` in which the programs run in its world keep what
// belongs to that world (zelsmbus keeps its firmware backups and journals
// there): the launcher names it to them in ZELSIM_STATE_DIR, and it goes with
// the world.
std::string stateFolder(const std::string &directory);
// The world's identity, new at every start (ZELSIM_WORLD_ID); empty when the
// directory has none.
std::string worldIdentity(const std::string &directory);
// Copies the world's state folder to `destination` (made when missing), so
// that it outlives the world; false, with the reason printed, on failure.
bool keepState(const std::string &directory, const std::string &destination);

// Runs the server in this process (the launcher's internal "__serve" mode).
int serve(const std::string &directory, const std::string &world, int readyFd);

}  // namespace zelsim::launcher
