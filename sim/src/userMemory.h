// Copies to and from the calling program's memory as a driver does: an
// address that is not mapped (or, for output, not writable) makes the call
// fail with EFAULT instead of crashing the program.
//
// The kernel checks every copy. Here a page once found good is remembered
// by the thread that used it until the program unmaps or reprotects memory
// (munmap, mprotect, mremap, madvise bump a generation), so the usual
// buffers cost a look-up, not a system call.
#pragma once

#include <cstddef>

namespace zelsim {

// False (nothing or part copied) when `from` is not readable.
bool copyFromUser(void *to, const void *from, size_t length);
// False (nothing or part copied) when `to` is not writable.
bool copyToUser(void *to, const void *from, size_t length);
// Called when the program's mappings change.
void userMappingsChanged();

}  // namespace zelsim
