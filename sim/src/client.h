// The preload library's side of a shared world: when ZELSIM_SERVER names a
// world server's socket, nodes are opened, commanded and closed there, and
// the driver tree is the one the server published.
#pragma once

#include <cstdint>
#include <string>

namespace zelsim::client {

// True when this process uses a world server (ZELSIM_SERVER is set).
bool active();
// The server's tree root; empty when the server cannot be reached.
std::string treeRoot();

// A node opened on the server, behind a local descriptor on /dev/null.
int openNode(const char *path, int flags);
bool isNode(int fd);
int ioctl(int fd, unsigned long request, void *argument);
int close(int fd);
// flock() of a node, taken in the world server under the node's handle there.
int flock(int fd, int operation);
// A descriptor number the C library handed out again is no node any more.
void forget(int fd);
// Counts a sleep on the server's clock; true when it was virtual.
bool sleep(uint64_t nanoseconds);

}  // namespace zelsim::client
