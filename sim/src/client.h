// The preload library's side of a shared world: when ZELSIM_SERVER names a
// world server's socket, every open node is a connection to that server,
// and that connection's socket is the descriptor the program gets. The
// kernel then decides the node's lifetime as it would a driver's file:
// dup, fork and exec share it, close, close_range and death end it, and the
// server releases the node's locks when its last reference is gone.
#pragma once

#include <cstdint>
#include <string>

namespace zelsim::client {

// True when this process uses a world server (ZELSIM_SERVER is set).
bool active();
// The server's tree root, asked anew each time (a restarted world has
// another); empty when the server cannot be reached.
std::string treeRoot();

// Opens a node on the server; the connection's socket is the new descriptor.
int openNode(const char *path, int flags);

// An open node as this process knows it; nullptr for a descriptor that is
// no node (recognised by its kernel object, never by its number).
struct Node;
Node *findNode(int fd);
// The number of the node `fd` stands for (its /dev/zelsmbus<n>), or -1 for
// any other descriptor; 0 for a node this process did not open itself.
int nodeNumber(int fd);
// One ioctl on the node `fd` stands for.
int ioctl(int fd, Node *node, unsigned long request, void *argument);
// flock() of the node: the lock of the server's own open file for it, so it
// goes when the node's last descriptor does.
int flock(int fd, Node *node, int operation);

// Counts a sleep on the server's clock; true when it was virtual.
bool sleep(uint64_t nanoseconds);

}  // namespace zelsim::client
