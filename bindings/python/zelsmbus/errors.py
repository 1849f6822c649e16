"""Status codes as Python exceptions and warnings.

Every libzelsmbus function returns a signed status: 0 success, negative an
error, positive a warning (the call did its work). Errors become
ZELSMBusError; warnings are recorded on the session (``last_status``,
``last_warning``) and, except for the documented success code of the I2C
block calls and the block process call, also issued through the warnings
module as ZELSMBusWarning.
"""

from __future__ import annotations

from typing import Dict, Optional, Tuple

from ._codes import STATUS_CODES

# value -> (symbolic name, one-line meaning), the inverse of the header's table
_BY_VALUE: Dict[int, Tuple[str, str]] = {value: (name, meaning) for name, (value, meaning) in STATUS_CODES.items()}

UNKNOWN_NAME = "UNKNOWN"
UNKNOWN_MEANING = "status passed through from the driver or the chassis-query library"
NO_STATUS_NAME = "NO_STATUS"
NO_STATUS_MEANING = "the call failed without reporting a status code"

TRANSFER_DONE = STATUS_CODES["ZELSMBUS_WARNING_TRANSFER_DONE"][0]
PROTECTED = STATUS_CODES["ZELSMBUS_ERROR_PROTECTED"][0]


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
    and ``function`` the C function that returned it. It derives from OSError
    so that code written for smbus2, which raises OSError, still catches it.
    """

    def __init__(self, code: Optional[int], function: str = "", detail: Optional[str] = None) -> None:
        self.code = code
        self.name, self.meaning = describe(code)
        self.function = function
        message = f"{self.name} ({code}): {detail or self.meaning}"
        if function:
            message = f"{function}: {message}"
        super().__init__(message)

    def __reduce__(self):  # keep pickling (multiprocessing) working
        return (type(self), (self.code, self.function))


class ZELSMBusWarning(UserWarning):
    """A libzelsmbus call did its work but returned a positive status."""

    def __init__(self, code: int, function: str = "") -> None:
        self.code = code
        self.name, self.meaning = describe(code)
        self.function = function
        super().__init__(f"{function + ': ' if function else ''}{self.name} ({code}): {self.meaning}")
