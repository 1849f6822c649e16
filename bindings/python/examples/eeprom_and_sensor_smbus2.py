#!/usr/bin/env python3
"""Bench check of a board: an AT24C02-style EEPROM at 0x50 and an LM75-style
temperature sensor at 0x48 on I2C bus 1, written for smbus2.

This is the script as it was before porting; eeprom_and_sensor.py is the same
script on libzelsmbus, with only the two lines that open the bus changed.
"""

import sys
import time

from smbus2 import SMBus

BUS = 1
EEPROM_ADDR = 0x50
SENSOR_ADDR = 0x48
TEMP_REG = 0x00
CONFIG_REG = 0x01
HYST_REG = 0x02
OVERTEMP_REG = 0x03
PAGE = 8  # the EEPROM writes at most one 8-byte page at a time


def write_eeprom(bus, offset, data):
    for start in range(0, len(data), PAGE):
        bus.write_i2c_block_data(EEPROM_ADDR, offset + start, list(data[start:start + PAGE]))
        time.sleep(0.005)  # write cycle


def read_eeprom(bus, offset, length):
    data = []
    while len(data) < length:
        chunk = min(32, length - len(data))
        data += bus.read_i2c_block_data(EEPROM_ADDR, offset + len(data), chunk)
    return bytes(data)


def read_celsius(bus, register):
    # SMBus words travel low byte first, but the sensor sends its most
    # significant byte first: swap to get the 9-bit reading in the top bits.
    word = bus.read_word_data(SENSOR_ADDR, register)
    value = ((word & 0xFF) << 8) | (word >> 8)
    if value & 0x8000:
        value -= 0x10000
    return (value >> 7) * 0.5


def main():
    serial = b"SN-2026-0042"
    with SMBus(BUS) as bus:
        try:
            bus.read_byte_data(EEPROM_ADDR, 0)
        except OSError:
            print("no EEPROM at 0x%02x" % EEPROM_ADDR)
            return 1

        write_eeprom(bus, 0x10, serial)
        stored = read_eeprom(bus, 0x10, len(serial))
        if stored != serial:
            print("EEPROM mismatch: %r" % stored)
            return 1
        bus.write_byte_data(EEPROM_ADDR, 0x00, 0x5A)
        if bus.read_byte_data(EEPROM_ADDR, 0x00) != 0x5A:
            print("EEPROM byte write failed")
            return 1
        print("EEPROM ok: %s" % stored.decode())

        config = bus.read_byte_data(SENSOR_ADDR, CONFIG_REG)
        bus.write_byte_data(SENSOR_ADDR, CONFIG_REG, config & ~0x01)  # leave shutdown mode
        if bus.read_byte_data(SENSOR_ADDR, CONFIG_REG) != config & ~0x01 & 0xFF:
            print("sensor config write failed")
            return 1
        print("temperature: %.1f C (limits %.1f C / %.1f C)" % (
            read_celsius(bus, TEMP_REG), read_celsius(bus, HYST_REG), read_celsius(bus, OVERTEMP_REG)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
