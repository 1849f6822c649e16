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

// Under the state mutex: what `fd` is.
NodeLookup lookupNode(const Sim &s, int fd, NodeRef &ref);

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
