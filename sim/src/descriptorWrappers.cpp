// The calls that make, replace or close descriptors without naming a path:
// each tells the descriptor cache (descriptorCache.h) that numbers may have
// changed hands, so that a node lost behind the library's back (a raw
// close, close_range, dup2 over it) is never taken for the pipe, socket or
// event that gets its number next.
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include "descriptorCache.h"
#include "pathHooks.h"

namespace {

// The result of a call that may have made or closed descriptors.
template <typename Result>
Result told(Result result) {
    zelsim::descriptors::changed();
    return result;
}

// fcntl's answer: a copy takes a number; a node reports the access mode it
// was opened with.
int answered(int fd, int command, int result) {
    if (command == F_DUPFD || command == F_DUPFD_CLOEXEC) zelsim::descriptors::changed();
    if (command == F_GETFL && result >= 0) {
        const int savedErrno = errno;
        const int access = zelsim::nodeAccessMode(fd);
        if (access >= 0) result = (result & ~O_ACCMODE) | access;
        errno = savedErrno;
    }
    return result;
}

using SocketFn = int (*)(int, int, int);
using SocketpairFn = int (*)(int, int, int, int *);
using PipeFn = int (*)(int *);
using Pipe2Fn = int (*)(int *, int);
using DupFn = int (*)(int);
using Dup2Fn = int (*)(int, int);
using Dup3Fn = int (*)(int, int, int);
using FcntlFn = int (*)(int, int, ...);
using AcceptFn = int (*)(int, sockaddr *, socklen_t *);
using Accept4Fn = int (*)(int, sockaddr *, socklen_t *, int);
using EventfdFn = int (*)(unsigned int, int);
using MemfdFn = int (*)(const char *, unsigned int);
using EpollCreateFn = int (*)(int);
using SignalfdFn = int (*)(int, const sigset_t *, int);
using TimerfdFn = int (*)(int, int);
using InotifyFn = int (*)();
using Inotify1Fn = int (*)(int);
using CloseRangeFn = int (*)(unsigned int, unsigned int, int);
using ClosefromFn = void (*)(int);
using RecvmsgFn = ssize_t (*)(int, msghdr *, int);
using RecvmmsgFn = int (*)(int, mmsghdr *, unsigned int, int, timespec *);
using MkstempFn = int (*)(char *);
using MkostempFn = int (*)(char *, int);
using TmpfileFn = FILE *(*)();
using PopenFn = FILE *(*)(const char *, const char *);

}  // namespace

#pragma GCC visibility push(default)
extern "C" {

int socket(int domain, int type, int protocol) __THROW {
    return told(ZELSIM_NEXT(SocketFn, "socket")(domain, type, protocol));
}
int socketpair(int domain, int type, int protocol, int pair[2]) __THROW {
    return told(ZELSIM_NEXT(SocketpairFn, "socketpair")(domain, type, protocol, pair));
}
int pipe(int ends[2]) __THROW { return told(ZELSIM_NEXT(PipeFn, "pipe")(ends)); }
int pipe2(int ends[2], int flags) __THROW {
    return told(ZELSIM_NEXT(Pipe2Fn, "pipe2")(ends, flags));
}
int dup(int fd) __THROW { return told(ZELSIM_NEXT(DupFn, "dup")(fd)); }
int dup2(int fd, int target) __THROW { return told(ZELSIM_NEXT(Dup2Fn, "dup2")(fd, target)); }
int dup3(int fd, int target, int flags) __THROW {
    return told(ZELSIM_NEXT(Dup3Fn, "dup3")(fd, target, flags));
}

int fcntl(int fd, int command, ...) {
    va_list args;
    va_start(args, command);
    void *argument = va_arg(args, void *);
    va_end(args);
    int result = ZELSIM_NEXT(FcntlFn, "fcntl")(fd, command, argument);
    return answered(fd, command, result);
}
int fcntl64(int fd, int command, ...) {
    va_list args;
    va_start(args, command);
    void *argument = va_arg(args, void *);
    va_end(args);
    int result = ZELSIM_NEXT(FcntlFn, "fcntl64")(fd, command, argument);
    return answered(fd, command, result);
}

int accept(int fd, sockaddr *address, socklen_t *length) {
    return told(ZELSIM_NEXT(AcceptFn, "accept")(fd, address, length));
}
int accept4(int fd, sockaddr *address, socklen_t *length, int flags) {
    return told(ZELSIM_NEXT(Accept4Fn, "accept4")(fd, address, length, flags));
}
int eventfd(unsigned int value, int flags) __THROW {
    return told(ZELSIM_NEXT(EventfdFn, "eventfd")(value, flags));
}
int memfd_create(const char *name, unsigned int flags) __THROW {
    return told(ZELSIM_NEXT(MemfdFn, "memfd_create")(name, flags));
}
int epoll_create(int size) __THROW {
    return told(ZELSIM_NEXT(EpollCreateFn, "epoll_create")(size));
}
int epoll_create1(int flags) __THROW {
    return told(ZELSIM_NEXT(EpollCreateFn, "epoll_create1")(flags));
}
int signalfd(int fd, const sigset_t *mask, int flags) __THROW {
    return told(ZELSIM_NEXT(SignalfdFn, "signalfd")(fd, mask, flags));
}
int timerfd_create(int clock, int flags) __THROW {
    return told(ZELSIM_NEXT(TimerfdFn, "timerfd_create")(clock, flags));
}
int inotify_init() __THROW { return told(ZELSIM_NEXT(InotifyFn, "inotify_init")()); }
int inotify_init1(int flags) __THROW {
    return told(ZELSIM_NEXT(Inotify1Fn, "inotify_init1")(flags));
}
int close_range(unsigned int first, unsigned int last, int flags) __THROW {
    return told(ZELSIM_NEXT(CloseRangeFn, "close_range")(first, last, flags));
}
void closefrom(int lowest) __THROW {
    ZELSIM_NEXT(ClosefromFn, "closefrom")(lowest);
    zelsim::descriptors::changed();
}
ssize_t recvmsg(int fd, msghdr *message, int flags) {
    return told(ZELSIM_NEXT(RecvmsgFn, "recvmsg")(fd, message, flags));
}
int recvmmsg(int fd, mmsghdr *messages, unsigned int count, int flags, timespec *timeout) {
    return told(ZELSIM_NEXT(RecvmmsgFn, "recvmmsg")(fd, messages, count, flags, timeout));
}
int mkstemp(char *pattern) { return told(ZELSIM_NEXT(MkstempFn, "mkstemp")(pattern)); }
int mkostemp(char *pattern, int flags) {
    return told(ZELSIM_NEXT(MkostempFn, "mkostemp")(pattern, flags));
}
FILE *tmpfile() { return told(ZELSIM_NEXT(TmpfileFn, "tmpfile")()); }
FILE *popen(const char *command, const char *mode) {
    return told(ZELSIM_NEXT(PopenFn, "popen")(command, mode));
}

}  // extern "C"
#pragma GCC visibility pop
