#include "driver/errnoTable.h"

#include <array>
#include <cstddef>

namespace nZELSMBUS000::nZELOSAL000 {

namespace {

// Indexed by errno (Linux x86-64 numbering); -52008 where no specific code exists.
constexpr std::array<int64_t, kLastMappedErrno + 1> kErrnoCodes = {
    0,       // 0 no error
    -52026,  // 1 EPERM
    -52006,  // 2 ENOENT
    -52006,  // 3 ESRCH
    -52025,  // 4 EINTR
    -52024,  // 5 EIO
    -52006,  // 6 ENXIO
    -52008,  // 7 E2BIG
    -52008,  // 8 ENOEXEC
    -52006,  // 9 EBADF
    -52008,  // 10 ECHILD
    -52008,  // 11 EAGAIN
    -52000,  // 12 ENOMEM
    -52026,  // 13 EACCES
    -52008,  // 14 EFAULT
    -52008,  // 15 ENOTBLK
    -52031,  // 16 EBUSY
    -52013,  // 17 EEXIST
    -52008,  // 18 EXDEV
    -52006,  // 19 ENODEV
    -52008,  // 20 ENOTDIR
    -52008,  // 21 EISDIR
    -52005,  // 22 EINVAL
    -52000,  // 23 ENFILE
    -52000,  // 24 EMFILE
    -52002,  // 25 ENOTTY
    -52008,  // 26 ETXTBSY
    -52008,  // 27 EFBIG
    -52012,  // 28 ENOSPC
    -52008,  // 29 ESPIPE
    -52026,  // 30 EROFS
    -52008,  // 31 EMLINK
    -52024,  // 32 EPIPE
    -52008,  // 33 EDOM
    -52008,  // 34 ERANGE
    -52015,  // 35 EDEADLOCK
    -52008,  // 36 ENAMETOOLONG
    -52015,  // 37 ENOLCK
    -52008,  // 38 ENOSYS
    -52008,  // 39 ENOTEMPTY
    -52008,  // 40 ELOOP
    -52008,  // 41 unassigned
    -52008,  // 42 ENOMSG
    -52020,  // 43 EIDRM
    -52008,  // 44 ECHRNG
    -52008,  // 45 EL2NSYNC
    -52008,  // 46 EL3HLT
    -52008,  // 47 EL3RST
    -52008,  // 48 ELNRNG
    -52008,  // 49 EUNATCH
    -52008,  // 50 ENOCSI
    -52008,  // 51 EL2HLT
    -52008,  // 52 EBADE
    -52008,  // 53 EBADR
    -52008,  // 54 EXFULL
    -52008,  // 55 ENOANO
    -52008,  // 56 EBADRQC
    -52008,  // 57 EBADSLT
    -52008,  // 58 unassigned
    -52008,  // 59 EBFONT
    -52008,  // 60 ENOSTR
    -52008,  // 61 ENODATA
    -52008,  // 62 ETIME
    -52008,  // 63 ENOSR
    -52008,  // 64 ENONET
    -52008,  // 65 ENOPKG
    -52008,  // 66 EREMOTE
    -52008,  // 67 ENOLINK
    -52008,  // 68 EADV
    -52008,  // 69 ESRMNT
    -52008,  // 70 ECOMM
    -52008,  // 71 EPROTO
    -52008,  // 72 EMULTIHOP
    -52008,  // 73 EDOTDOT
    -52024,  // 74 EBADMSG
    -52012,  // 75 EOVERFLOW
    -52008,  // 76 ENOTUNIQ
    -52008,  // 77 EBADFD
    -52008,  // 78 EREMCHG
    -52008,  // 79 ELIBACC
    -52008,  // 80 ELIBBAD
    -52008,  // 81 ELIBSCN
    -52008,  // 82 ELIBMAX
    -52008,  // 83 ELIBEXEC
    -52008,  // 84 EILSEQ
    -52008,  // 85 ERESTART
    -52008,  // 86 ESTRPIPE
    -52008,  // 87 EUSERS
    -52008,  // 88 ENOTSOCK
    -52008,  // 89 EDESTADDRREQ
    -52008,  // 90 EMSGSIZE
    -52008,  // 91 EPROTOTYPE
    -52008,  // 92 ENOPROTOOPT
    -52008,  // 93 EPROTONOSUPPORT
    -52008,  // 94 ESOCKTNOSUPPORT
    -52002,  // 95 ENOTSUP
    -52008,  // 96 EPFNOSUPPORT
    -52008,  // 97 EAFNOSUPPORT
    -52013,  // 98 EADDRINUSE
    -52008,  // 99 EADDRNOTAVAIL
    -52008,  // 100 ENETDOWN
    -52008,  // 101 ENETUNREACH
    -52008,  // 102 ENETRESET
    -52023,  // 103 ECONNABORTED
    -52025,  // 104 ECONNRESET
    -52019,  // 105 ENOBUFS
    -52008,  // 106 EISCONN
    -52008,  // 107 ENOTCONN
    -52008,  // 108 ESHUTDOWN
    -52008,  // 109 ETOOMANYREFS
    -52007,  // 110 ETIMEDOUT
    -52008,  // 111 ECONNREFUSED
    -52008,  // 112 EHOSTDOWN
    -52008,  // 113 EHOSTUNREACH
    -52011,  // 114 EALREADY
    -52011,  // 115 EINPROGRESS
    -52008,  // 116 ESTALE
    -52008,  // 117 EUCLEAN
    -52008,  // 118 ENOTNAM
    -52008,  // 119 ENAVAIL
    -52008,  // 120 EISNAM
    -52008,  // 121 EREMOTEIO
    -52008,  // 122 EDQUOT
    -52008,  // 123 ENOMEDIUM
    -52008,  // 124 EMEDIUMTYPE
    -52008,  // 125 ECANCELED
    -52008,  // 126 ENOKEY
    -52008,  // 127 EKEYEXPIRED
    -52008,  // 128 EKEYREVOKED
    -52008,  // 129 EKEYREJECTED
    -52014,  // 130 EOWNERDEAD
};

}  // namespace

int64_t statusCodeForErrno(int error) noexcept {
    if (error > kLastMappedErrno || error < 0) {
        return -52008;
    }
    return kErrnoCodes[static_cast<size_t>(error)];
}

}  // namespace nZELSMBUS000::nZELOSAL000
