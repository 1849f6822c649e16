"""Status codes as Python exceptions and warnings.

Every libzelsmbus function returns a signed status: 0 success, negative an
error, positive a warning (the call did its work). Errors become
ZELSMBusError; warnings are recorded on the session (``last_status``,
``last_warning``) and, except for the documented success code of the I2C
block calls and the block process call, also issued through the warnings
module as ZELSMBusWarning.
"""

from __future__ import annotations

import errno as _errno
from typing import Any, Dict, Optional, Tuple

from ._codes import STATUS_CODES

# value -> (symbolic name, one-line meaning), the inverse of the header's table
_BY_VALUE: Dict[int, Tuple[str, str]] = {value: (name, meaning) for name, (value, meaning) in STATUS_CODES.items()}

UNKNOWN_NAME = "UNKNOWN"
UNKNOWN_MEANING = "status passed through from the driver or the chassis-query library"
NO_STATUS_NAME = "NO_STATUS"
NO_STATUS_MEANING = "the call failed without reporting a status code"

TRANSFER_DONE = STATUS_CODES["ZELSMBUS_WARNING_TRANSFER_DONE"][0]
PROTECTED = STATUS_CODES["ZELSMBUS_ERROR_PROTECTED"][0]


# The errno each error carries, so that scripts written for smbus2 (which
# raises OSError with the kernel's errno) keep working: a device that does not
# answer gives EREMOTEIO, as most i2c-dev adapters report it.
_ERRNO_BY_NAME: Dict[str, int] = {
    "ZELSMBUS_ERROR_OUT_OF_MEMORY": _errno.ENOMEM,
    "ZELSMBUS_ERROR_NOT_SUPPORTED": _errno.EOPNOTSUPP,
    "ZELSMBUS_ERROR_SYSTEM": _errno.EIO,
    "ZELSMBUS_ERROR_INVALID_PARAMETER": _errno.EINVAL,
    "ZELSMBUS_ERROR_NOT_FOUND": _errno.ENOENT,
    "ZELSMBUS_ERROR_TIMEOUT": _errno.ETIMEDOUT,
    "ZELSMBUS_ERROR_OS": _errno.EIO,
    "ZELSMBUS_ERROR_IN_PROGRESS": _errno.EALREADY,
    "ZELSMBUS_ERROR_NO_SPACE": _errno.ENOSPC,
    "ZELSMBUS_ERROR_EXISTS": _errno.EEXIST,
    "ZELSMBUS_ERROR_OWNER_DEAD": _errno.EOWNERDEAD,
    "ZELSMBUS_ERROR_DEADLOCK": _errno.EDEADLK,
    "ZELSMBUS_ERROR_VERIFY_FAILED": _errno.EIO,
    "ZELSMBUS_ERROR_TOO_LARGE": _errno.EMSGSIZE,
    "ZELSMBUS_ERROR_REMOVED": _errno.EIDRM,
    "ZELSMBUS_ERROR_CORRUPT_DATA": _errno.EBADMSG,
    "ZELSMBUS_ERROR_IO": _errno.EREMOTEIO,
    "ZELSMBUS_ERROR_INTERRUPTED": _errno.EINTR,
    "ZELSMBUS_ERROR_ACCESS_DENIED": _errno.EACCES,
    "ZELSMBUS_ERROR_BUSY": _errno.EBUSY,
    "ZELSMBUS_ERROR_PROTECTED": _errno.EPERM,
    "ZELSMBUS_ERROR_SMBIOS_OPEN": _errno.ENOENT,
    "ZELSMBUS_ERROR_SMBIOS_READ": _errno.EIO,
}


def errno_of(code: Optional[int]) -> int:
    """The errno a ZELSMBusError with this status carries (EIO for codes outside the table)."""
    return _ERRNO_BY_NAME.get(describe(code)[0], _errno.EIO)


def describe(code: Optional[int]) -> Tuple[str, str]:
    """(symbolic name, one-line meaning) of a status code.

    Codes outside the library's own table (driver status words, codes of the
    chassis-query library) give ("UNKNOWN", a note saying where they come from).
    None, for the calls that report failure only by a null result, gives
    ("NO_STATUS", ...).
    """
    if code is None:
        return NO_STATUS_NAME, NO_STATUS_MEANING
    return _BY_VALUE.get(code, (UNKNOWN_NAME, UNKNOWN_MEANING))


class ZELSMBusError(OSError):
    """A libzelsmbus call failed with a negative status.

    ``code`` is the status (None only for resource_names(), whose C function
    reports failure by a null result alone), ``name`` its symbolic name from zelsmbus.h
    (for example "ZELSMBUS_ERROR_PROTECTED"), ``meaning`` its one-line text
    and ``function`` the C function that returned it. It is an OSError with
    ``errno`` set as smbus2's errors have it (EREMOTEIO when a device does not
    answer, EBUSY, ETIMEDOUT, EINVAL, ...; see errno_of), so code written for
    smbus2 still catches it and can still test ``e.errno``; ``strerror`` holds
    the message.
    """

    def __init__(self, code: Optional[int], function: str = "", detail: Optional[str] = None) -> None:
        self.code = code
        self.name, self.meaning = describe(code)
        self.function = function
        message = f"{self.name} ({code}): {detail or self.meaning}"
        if function:
            message = f"{function}: {message}"
        super().__init__(errno_of(code), message)

    def __reduce__(self) -> Tuple[Any, ...]:  # keep pickling (multiprocessing) working
        return (type(self), (self.code, self.function))


class ZELSMBusWarning(UserWarning):
    """A libzelsmbus call did its work but returned a positive status."""

    def __init__(self, code: int, function: str = "") -> None:
        self.code = code
        self.name, self.meaning = describe(code)
        self.function = function
        super().__init__(f"{function + ': ' if function else ''}{self.name} ({code}): {self.meaning}")
