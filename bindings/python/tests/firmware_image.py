"""Builds firmware images in the library's format, for the update tests.

The format: a keyed text header ending in an empty line, then the firmware
bytes as one line of Base64. The CRC is a 32-bit CRC, most significant bit
first, polynomial 0x1EDC6F41, initial value and final XOR 0xFFFFFFFF.
"""

import base64
from typing import Optional


def _crc_table():
    table = []
    for index in range(256):
        register = index << 24
        for _ in range(8):
            register = ((register << 1) ^ 0x1EDC6F41) if register & 0x80000000 else register << 1
        table.append(register & 0xFFFFFFFF)
    return table


_TABLE = _crc_table()


def crc32(data: bytes) -> int:
    register = 0xFFFFFFFF
    for byte in data:
        register = ((register << 8) & 0xFFFFFFFF) ^ _TABLE[(register >> 24) ^ byte]
    return register ^ 0xFFFFFFFF


def make_image(payload: bytes, *, version: int, subsystem: int, pinout_address: int, pinout_version: int,
               offset: int = 0, header_version: int = 2, crc: Optional[int] = None) -> bytes:
    header = (f"HeaderVersion::{header_version}\r\n"
              f"SubSystemID::{subsystem:#x}\r\n"
              f"PinOutAddr::{pinout_address:#x}\r\n"
              f"PinOutVer::{pinout_version}\r\n"
              f"UpdateType::\"FWUpdate\"\r\n"
              f"Offset::{offset:#x}\r\n"
              f"Version::{version:#x}\r\n"
              f"CRC::{crc32(payload) if crc is None else crc:#x}\r\n"
              f"ByteCount::{len(payload)}\r\n"
              "\r\n")
    return header.encode() + base64.b64encode(payload) + b"\r\n"
