// The simulator's whole state behind one mutex: the world, the driver tree
// written for it, the simulated descriptors, pending faults, the command log
// and the system-call counters.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>
#include <string>
#include <vector>

#include "logRing.h"
#include "model.h"
#include "zelsim.h"

namespace zelsim {

constexpr const char *kProcPrefix = "/proc/driver/zel/";
constexpr const char *kNodePrefix = "/dev/zelsmbus";
constexpr const char *kSmbiosDumpPath = "/run/zelplat/smbios/smbiosdmp";
constexpr size_t kLogCapacity = 16384;

// The files of one node's interface directory as they stand on disk.
struct NodeFiles {
    std::string procDir;   // /proc/driver/zel/<instance>/deviceInterfaces/zelsmbus_zelsmbus\<n>
    std::string nodePath;  // what interfacePath names; open() of it reaches the device
    std::string interfacePath;                      // raw content of interfacePath
    std::map<std::string, std::string> properties;  // raw content of properties/<name>
    std::map<std::string, int> unopenable;          // file -> errno of every fopen
    std::map<std::string, unsigned> fopenAttempts;  // file -> attempts
    // The kernel file that stands for the node (nodeFiles.h).
    std::string file;
};

// One open of a node (nodeFiles.h): which node, in which world.
struct OpenRecord {
    unsigned node = 0;
    uint64_t generation = 0;
    int access = 0;  // O_RDONLY, O_WRONLY or O_RDWR, as the program asked
};

struct Countdown {
    int value = 0;  // errno or driver word
    unsigned remaining = 0;
    // True (and counts down) when the fault applies to this call.
    bool take() {
        if (remaining == 0) return false;
        --remaining;
        return true;
    }
};

struct Faults {
    std::array<Countdown, ZELSIM_CALL_KIND_COUNT> calls;
    std::map<unsigned, Countdown> commandErrno;
    std::map<unsigned, Countdown> driverWord;
    Countdown glob;
};

struct Sim {
    std::mutex mutex;
    std::condition_variable busReleased;

    World world;
    uint64_t generation = 1;

    std::string root;  // private temporary directory
    pid_t rootOwner = 0;
    std::vector<std::string> written;  // files and directories made, in order
    std::vector<NodeFiles> files;
    bool treePresent = true;

    // Opens of nodes by their id (nodeFiles.h), and what makes the next id.
    std::unordered_map<uint64_t, OpenRecord> opens;
    size_t pruneAt = 0;  // the table's size at which closed opens are forgotten
    uint64_t openSalt = 0, retiredSalt = 0;
    uint32_t openCounter = 0;
    Faults faults;
    LogRing<zelsim_log_record> log{kLogCapacity};
    std::array<unsigned long, ZELSIM_CALL_KIND_COUNT> counts{};
    std::string smbiosPath;
    std::string lastError;
};

// The state, created on first use: the world of ZELSIM_WORLD (or the default
// one) with its tree written. Never destroyed, so late calls stay safe.
Sim &sim();

// True, with the reason in zelsim_last_error(), when this process uses a
// shared world: the control functions of zelsim.h act only on a world inside
// the process, so they refuse there (named by `function`).
bool refusedInSharedWorld(const char *function);
// Makes fork take the state's mutex first (interpose.cpp), so that a child
// never inherits it held by a thread it does not have.
void protectAcrossFork(Sim &s);

// Under the mutex: replace the world, rebuild the tree, make every open
// descriptor stale.
void installWorld(Sim &s, World &&world);
void writeTree(Sim &s);
void rewriteNodeFile(Sim &s, unsigned node, const std::string &file);
// Maps a /proc/driver/zel/... path to its file in the private tree.
std::string treePath(const Sim &s, const char *procPath);
// Finds which node file a /proc path names; false when it names none.
bool findNodeFile(const Sim &s, const std::string &procPath, unsigned &node, std::string &file);

// Under the mutex: the device of the node `node` of the world as it is, or nullptr.
Device *deviceOf(Sim &s, unsigned node);

// Command handling (device.cpp): runs one ioctl on a node descriptor `fd`
// that carries `openId` (nodeFiles.h). Returns 0, or -1 with errno set;
// `node` false (and nothing done) when the id is no open of a node.
int deviceIoctl(int fd, uint64_t openId, unsigned long request, void *argument, bool &node);

}  // namespace zelsim
