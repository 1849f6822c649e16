"""Python binding of libzelsmbus: SMBus and I2C controllers of PXI systems and their hosts.

    from zelsmbus import SMBus
    with SMBus("ZELSMBUS::SYSTEM::0::0") as bus:
        value = bus.read_byte_data(0x50, 0x00)   # 7-bit address, as in smbus2

See the README (in /usr/share/doc/python3-zelsmbus/ when installed from the Debian
package, bindings/python/README.md in the source) for the differences from smbus2;
the examples beside it are two short programs.
"""

from ._codes import *  # noqa: F401,F403  status codes, attribute identifiers, limits
from ._codes import ATTRIBUTES, STATUS_CODES
from ._library import load_library
from .errors import ZELSMBusError, ZELSMBusWarning, describe, errno_of
from .session import SMBus, Session, open_all, resource_names

__all__ = [
    "ATTRIBUTES",
    "STATUS_CODES",
    "SMBus",
    "Session",
    "ZELSMBusError",
    "ZELSMBusWarning",
    "describe",
    "errno_of",
    "load_library",
    "open_all",
    "resource_names",
]
__version__ = "2.0.0"
