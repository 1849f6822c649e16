#!/usr/bin/env python3
"""Writes the seed images of the firmware fuzz target (fuzz/corpus/firmware/).

Each seed is one selector byte (bits 0-1: flash device of the fake controller
1010/BF8E/9D17/unknown, bit 2: force) followed by an image whose header matches
the fake controller (subsystem 0x7A3B, pin-out version 0, installed version 5).
"""
import base64
import os

def crc32(data):
    crc = 0xFFFFFFFF
    for b in data:
        crc ^= b << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1EDC6F41) if crc & 0x80000000 else crc << 1
            crc &= 0xFFFFFFFF
    return crc ^ 0xFFFFFFFF

def image(payload, version="6", subsystem="0x7A3B", update='"FWUpdate"', extra=b""):
    header = (f"HeaderVersion::1\r\nSubSystemID::{subsystem}\r\nPinOutAddr::0x100\r\n"
              f"PinOutVer::0\r\nUpdateType::{update}\r\nOffset::0\r\nVersion::{version}\r\n"
              f"CRC::{crc32(payload)}\r\nByteCount::{len(payload)}\r\n\r\n").encode()
    return header + base64.b64encode(payload) + extra

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "firmware")
os.makedirs(here, exist_ok=True)
payload = bytes(range(256)) * 2
seeds = {
    "valid_1010": b"\x00" + image(payload, extra=b"\r\n"),
    "valid_bf8e_unterminated": b"\x01" + image(payload[:100]),
    "valid_9d17": b"\x02" + image(payload[:33], extra=b"\r\ntrailer"),
    "old_version_forced": b"\x04" + image(b"abc", version="0x5"),
    "wrong_update_type": b"\x00" + image(b"abc", update='"FWUpdat"'),
    "spaced_numbers": b"\x00" + image(b"xyz", version=" 0x10", subsystem="0X7a3b"),
    "padding_and_breaks": b"\x00" + image(b"hello!")[:-4] + b"\n=\n  " + image(b"hello!")[-4:],
    "no_empty_line": b"\x00" + image(b"abc").replace(b"\r\n\r\n", b"\r\n"),
    "unknown_flash": b"\x03" + image(b"abc"),
}
for name, data in seeds.items():
    with open(os.path.join(here, name), "wb") as f:
        f.write(data)
