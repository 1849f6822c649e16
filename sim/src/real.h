// The C library's own versions of the calls the simulator wraps, found with
// dlsym(RTLD_NEXT) on first use. The simulator's own file work goes through
// these so it never re-enters its wrappers.
#pragma once

#include <glob.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <ctime>

namespace zelsim::real {

int open(const char *path, int flags, mode_t mode);
int close(int fd);
ssize_t read(int fd, void *buffer, size_t count);
ssize_t write(int fd, const void *buffer, size_t count);
int ioctl(int fd, unsigned long request, void *argument);
void *mmap(void *address, size_t length, int protection, int flags, int fd, off_t offset);
FILE *fopen(const char *path, const char *mode);
int glob(const char *pattern, int flags, int (*errfunc)(const char *, int), glob_t *result);
void globfree(glob_t *result);
int nanosleep(const struct timespec *request, struct timespec *remaining);

// Resolves a symbol of the next object in the search order; aborts with a
// message when the C library lacks it.
void *next(const char *name);

}  // namespace zelsim::real
