// What each descriptor number was last found to carry (the open id of a
// node, nodeFiles.h, or none), kept until a descriptor is made, closed or
// replaced through any of the calls the simulator wraps. A driver command
// then costs no system call to tell its node, while a number that changed
// hands (closed behind the library's back and taken by a pipe, say) is
// looked at again: the call that handed it out moved the epoch on.
#pragma once

#include <cstdint>

namespace zelsim::descriptors {

// A descriptor was made, closed or replaced: every number is looked at anew.
void changed();
// The open id `fd` carries, or 0 (errno kept).
uint64_t openIdOf(int fd);

}  // namespace zelsim::descriptors

namespace zelsim {
// The access mode (O_RDONLY, O_WRONLY, O_RDWR) a program opened the node
// `fd` stands for with, or -1 for any other descriptor: what fcntl(F_GETFL)
// reports for it (the file behind a node is opened read-only).
int nodeAccessMode(int fd);
}  // namespace zelsim
