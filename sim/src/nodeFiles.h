// A driver node as a kernel file. Every node of the world has a file in the
// world's folder (<root>/nodes/); opening the node opens that file, so the
// program's descriptor is a real open file whose lifetime is the kernel's:
// dup, fork, exec, SCM_RIGHTS, close_range and death behave as they do on a
// driver's node, and flock() on it is the kernel's own flock.
//
// Each open gets a number of its own (its "open id"), kept as the open
// file's offset (shared by every descriptor of that open file and by no
// other), and holds a read lock on that byte of the node's file for as long
// as the open file exists. Whether an open file is still open anywhere is
// then a question the kernel answers (F_OFD_GETLK), which is how a bus lock
// held by a program that closed its node, or died, is found free at once.
//
// A descriptor is told a node by its offset alone (one lseek, no look at
// the state without need): ids lie in a range no file of a program reaches
// by chance (from 2^42, with bits drawn at random for each process), and
// the table of opens says which node and world an id belongs to.
#pragma once

#include <cstdint>

#include "sim.h"

namespace zelsim {

struct NodeRef {
    unsigned node = 0;
    uint64_t openId = 0;
};

enum class NodeLookup {
    None,     // no node: any other file
    Stale,    // a node of a world replaced since
    Current,  // a node of the world as it is
};

// Under the state mutex: opens node `node` for a program (O_CLOEXEC of
// `flags` kept); the new descriptor, or -1 with errno.
int openNodeFile(Sim &s, unsigned node, int flags);

// The open id `fd` carries, or 0 for a descriptor that carries none (any
// other file, pipe, socket or terminal); errno is left as it was.
uint64_t openIdOf(int fd);

// In a forked child, under the state mutex: its opens take ids of another
// draw than its parent's (both open the same node files).
void drawNewOpenIds(Sim &s);

// Under the state mutex, after a descriptor of open `openId` was closed:
// forgets the open when no descriptor of it is left anywhere.
void forgetIfClosed(Sim &s, uint64_t openId);

// Under the state mutex: what the open `openId` is (0: none).
NodeLookup lookupOpen(const Sim &s, uint64_t openId, NodeRef &ref);

// Whether the open file `openId` of the node whose file `fdOfNode` is open
// on (any descriptor of the same node) is still open anywhere.
bool openFileAlive(int fdOfNode, uint64_t openId);

// The same from the node's number alone (opens its file briefly); under the
// state mutex.
bool openFileAlive(const Sim &s, unsigned node, uint64_t openId);

// Under the state mutex: makes the files of the world's nodes anew (a node
// opened before stands for a world that is gone).
void makeNodeFiles(Sim &s);

}  // namespace zelsim
