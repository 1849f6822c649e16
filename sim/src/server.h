// The world server: one process holding the simulated world that every
// process of a zelsim run reaches through the preload library (client.cpp).
#pragma once

// The socket's file name inside the server's directory.
#define ZELSIM_SOCKET_NAME "world.sock"

extern "C" {
// Serves the world of `worldFile` (NULL or "" for the built-in one) on
// DIRECTORY/world.sock until a Stop request or SIGTERM/SIGINT/SIGHUP.
// Writes one line to `readyFd` once clients can connect ("ok") or when it
// cannot start (the reason, e.g. "FILE:LINE: key 'x': ..."), then closes it.
// Returns the process's exit status; the caller should exit with it.
__attribute__((visibility("default"))) int zelsim_serve(const char *directory,
                                                        const char *worldFile, int readyFd);
}

namespace zelsim {
// Removes the driver tree this process wrote (the server does so before it
// exits, so that its directory can go with it).
void dropTree();
}  // namespace zelsim
