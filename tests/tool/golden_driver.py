#!/usr/bin/python3
"""Runs the zelsmbus tool under the simulator launcher and compares what it
prints (standard output, standard error, exit status, files it writes) with a
golden file in golden/.

  golden_driver.py --list                       names of all cases
  golden_driver.py --case NAME --launcher L --tool T [--mkimage M]
                   [--bus-client B] [--update]

--update rewrites the golden file from the run instead of comparing; read the
difference before committing it.
"""
import argparse
import difflib
import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
GOLDEN = os.path.join(HERE, "golden")

HOST = "ZELSMBUS::SYSTEM::0::0"      # host controller, port 0: EEPROM 0x50, sensor 0x48
HOST1 = "ZELSMBUS::SYSTEM::0::1"     # host controller, port 1
REMOTE = "ZELSMBUS::REMOTE::0::0"    # chassis 1 backplane controller
BACKPLANE = "PXI0::1::BACKPLANE"

ODD = "ZELSMBUS::SYSTEM::0::0"       # in ODD_TEXTS_WORLD: texts with control bytes and UTF-8


def toml_bytes(data):
    return "[" + ", ".join("0x%02x" % b for b in data) + "]"


def odd_chassis_eeprom():
    """A chassis EEPROM whose fields hold an invalid UTF-8 byte and ESC[2J,
    valid UTF-8 ("Zürich"), and a C1 control (CSI, U+009B)."""
    image = bytearray(b"\xff" * 123)
    for offset, length, text in ((5, 60, b"Z\xfcrich\x1b[2J model"),
                                 (65, 40, "Zürich Instruments".encode()),
                                 (106, 13, b"\xc2\x9b31mSN1")):
        image[offset:offset + length] = (text + bytes(length))[:length]
    return bytes(image)


# One host controller whose texts and EEPROMs would act on a terminal.
ODD_TEXTS_WORLD = """
[[device]]
vendor_id = 0x8086
device_id = 0xA323
subsystem_vendor_id = 0x8086
subsystem_id = 0x7270
bus = 0
device = 31
function = 4
device_string = "Z\\u00fcrich unit \\u001b[2J\\u009b1m\\u007f"
flash_id = 0x1010

  [[device.port]]
  text = "BUS\\u001b[31m::RED"
  chassis_eeprom = true

    [[device.port.target]]
    address = 0xA4
    kind = "eeprom"
    contents = %s

    [[device.port.target]]
    address = 0xA0
    kind = "eeprom"
    contents = %s
""" % (toml_bytes(odd_chassis_eeprom()),
       toml_bytes(b"\x1b[2J\x1b]0;title\x07Z\xc3\xbcrich\x9b"))

# The example world of zelsim-world(5): a device that gives no device text.
NO_DEVICE_TEXT_WORLD = """
[[device]]
vendor_id = 0x8086
  [[device.port]]
  text = "HOST::SMBUS0"
    [[device.port.target]]
    address7 = 0x48
    kind = "registers"
    layout = "words_msb_first"
    words = [0x1900, 0x0000, 0x4B00, 0x5000]
"""

# name: (arguments, options). Options: stdin (text fed to the tool),
# interactive ("1"/"0": the tool's terminal decision), files (written files to
# show as hex), needs ("mkimage"), setup (files made before, in the case's
# folder), world (world text for the launcher's --world), lock_held (another
# process, the bus client, holds the bus lock of the host controller's port 0
# for the whole run, in one world shared with the tool), no_driver (the tool
# runs without the launcher, as on a machine with neither the driver nor the
# simulator), world_running (with no_driver: a world started with 'zelsim
# start' runs meanwhile). Every line the tool writes with --json must be a
# JSON document (checked).
CASES = {
    # Tool and command help, version.
    "help": (["--help"], {}),
    "help_get": (["get", "--help"], {}),
    "version": (["-V"], {}),
    # Resource list.
    "list": (["list"], {}),
    "list_verbose": (["list", "-v"], {}),
    "list_verbose_8bit": (["list", "-v", "--8bit"], {}),
    "list_json": (["list", "-v", "--json"], {}),
    # Detect grid: protected addresses are marked, not probed.
    "detect": (["detect", HOST], {}),
    "detect_unrestricted": (["detect", "--unrestricted", HOST], {}),
    "detect_all": (["detect", "-a", HOST1], {}),
    "detect_json": (["detect", "--json", HOST], {}),
    "detect_backplane": (["detect", BACKPLANE], {}),
    # Reads.
    "get_receive": (["get", HOST, "0x50"], {}),
    "get_byte": (["get", HOST, "0x48", "0"], {}),
    "get_byte_8bit": (["get", "--8bit", HOST, "0x90", "2"], {}),
    "get_word": (["get", HOST, "0x48", "0", "w"], {}),
    "get_word_pec": (["get", HOST, "0x48", "2", "wp"], {}),
    "get_send_receive": (["get", HOST, "0x50", "0x04", "c"], {}),
    "get_block": (["get", HOST, "0x48", "0x20", "s"], {}),
    "get_i2c_block": (["get", HOST, "0x50", "0", "i", "16"], {}),
    "get_json": (["get", "--json", HOST, "0x48", "0x20", "s"], {}),
    "get_protected_unrestricted": (["get", "--unrestricted", HOST, "0x2c", "0"], {}),
    # Writes, with and without confirmation.
    "set_yes_read_back": (["set", "-y", "-r", HOST, "0x48", "2", "0x50"], {}),
    "set_mask": (["set", "-y", "-r", "-m", "0x0f", HOST, "0x48", "3", "0x07"], {}),
    "set_word_json": (["set", "-y", "-r", "--json", HOST, "0x48", "2", "0x4c00", "w"], {}),
    "set_block_i2c": (["set", "-y", "-r", HOST1, "0x51", "0x10", "1", "2", "3", "i"], {}),
    "set_process_call": (["set", "-y", HOST, "0x48", "0", "0x1234", "call"], {}),
    "set_confirm_yes": (["set", "-r", HOST, "0x48", "2", "0x46"],
                        {"stdin": "y\n", "interactive": "1"}),
    "set_confirm_default_yes": (["set", HOST, "0x48", "2", "0x46"],
                                {"stdin": "\n", "interactive": "1"}),
    "set_confirm_no": (["set", HOST, "0x48", "2", "0x46"], {"stdin": "n\n", "interactive": "1"}),
    "set_eeprom_default_no": (["set", HOST, "0x50", "0", "0xff"],
                              {"stdin": "\n", "interactive": "1"}),
    "set_eeprom_confirm_yes": (["set", "-r", HOST, "0x50", "0", "0x5a"],
                               {"stdin": "y\n", "interactive": "1"}),
    "set_not_a_terminal": (["set", HOST, "0x48", "2", "0x46"], {"interactive": "0"}),
    # Dumps and EEPROMs.
    "dump_eeprom": (["dump", HOST, "0x50"], {}),
    "dump_sensor_words": (["dump", HOST, "0x48", "w"], {}),
    "dump_absent": (["dump", HOST, "0x33"], {}),
    # Another program holds the bus lock: the tool says it could not look, and fails.
    "detect_busy": (["detect", HOST, "0x40", "0x4f"], {"needs": "bus-client", "lock_held": True}),
    "detect_busy_json": (["detect", "--json", HOST, "0x48", "0x50"],
                         {"needs": "bus-client", "lock_held": True}),
    "dump_busy": (["dump", "-r", "0x00-0x13", HOST, "0x48"],
                  {"needs": "bus-client", "lock_held": True}),
    "dump_busy_json": (["dump", "--json", "-r", "0x00-0x01", HOST, "0x48"],
                       {"needs": "bus-client", "lock_held": True}),
    "get_busy": (["get", HOST, "0x48", "0"], {"needs": "bus-client", "lock_held": True}),
    "dump_json": (["dump", "--json", HOST, "0x48"], {}),
    "eeprom": (["eeprom", HOST, "0x50", "--length", "48"], {}),
    "eeprom_range": (["eeprom", HOST, "0x50", "--offset", "0x14", "--length", "20"], {}),
    "eeprom_file": (["eeprom", HOST, "0x50", "--length", "32", "-o", "eeprom.bin"],
                    {"files": ["eeprom.bin"]}),
    "eeprom_json": (["eeprom", "--json", HOST, "0x50", "--length", "8"], {}),
    "chassis_eeprom": (["chassis-eeprom", BACKPLANE], {}),
    "chassis_eeprom_json": (["chassis-eeprom", "--json", REMOTE], {}),
    # Attributes.
    "attr_all": (["attr", HOST], {}),
    "attr_all_unrestricted": (["attr", "--unrestricted", REMOTE], {}),
    "attr_one": (["attr", HOST, "subsystem-id"], {}),
    "attr_json": (["attr", "--json", HOST, "protected-list"], {}),
    "attr_register": (["attr", "--unrestricted", HOST, "reg:0"], {}),
    "attr_set": (["attr", "-y", "--unrestricted", HOST, "setting-10001", "250"], {}),
    # A set asks as set does: refused without a terminal, unless -y.
    "attr_set_not_a_terminal": (["attr", HOST, "setting-1005", "7"], {"interactive": "0"}),
    "attr_set_confirm_no": (["attr", HOST, "setting-1005", "7"],
                            {"stdin": "n\n", "interactive": "1"}),
    "attr_set_confirm_yes": (["attr", HOST, "setting-1005", "7"],
                             {"stdin": "y\n", "interactive": "1"}),
    "error_attr_boolean_value": (["attr", HOST, "unrestricted", "2"], {}),
    # Failures: status code, name and meaning; usage errors exit 2.
    "error_missing_resource": (["get", "ZELSMBUS::SYSTEM::7::0", "0x48", "0"], {}),
    "error_protected": (["get", HOST, "0x2c", "0"], {}),
    "error_protected_attribute": (["attr", HOST, "setting-10004"], {}),
    "error_absent_device": (["get", HOST, "0x33", "0"], {}),
    "error_chassis_eeprom_port": (["chassis-eeprom", HOST], {}),
    "error_address_range": (["get", HOST, "0x78", "0"], {}),
    "error_bad_mode": (["get", HOST, "0x48", "0", "x"], {}),
    "error_bad_number": (["set", "-y", HOST, "0x48", "2", "0x100"], {}),
    "error_missing_argument": (["get", HOST], {}),
    "error_unknown_option": (["detect", "--bogus", HOST], {}),
    "error_no_command": ([], {}),
    # Firmware update of the simulated controllers with images from the image tool.
    "firmware_update": (["firmware", "-y", REMOTE, "new.img"],
                        {"needs": "mkimage", "setup": "new"}),
    "firmware_not_newer": (["firmware", "-y", REMOTE, "old.img"],
                           {"needs": "mkimage", "setup": "old"}),
    "firmware_force": (["firmware", "-y", "--force", REMOTE, "old.img"],
                       {"needs": "mkimage", "setup": "old"}),
    "firmware_confirm_no": (["firmware", REMOTE, "new.img"],
                            {"needs": "mkimage", "setup": "new", "stdin": "\n",
                             "interactive": "1"}),
    "firmware_damaged": (["firmware", "-y", REMOTE, "damaged.img"],
                         {"needs": "mkimage", "setup": "damaged"}),
    # I2C-tools habits: -y everywhere, ranges, 8-bit addresses.
    "yes_get": (["get", "-y", HOST, "0x48", "0"], {}),
    "yes_detect_range": (["detect", "-y", HOST, "0x48", "0x50"], {}),
    "yes_list": (["list", "-y"], {}),
    "yes_attr": (["attr", "-y", HOST, "port"], {}),
    "yes_eeprom": (["eeprom", "-y", HOST, "0x50", "--length", "4"], {}),
    "yes_chassis_eeprom_json": (["chassis-eeprom", "-y", "--json", BACKPLANE], {}),
    "detect_range_8bit_json": (["detect", "--8bit", "--json", HOST, "0x90", "0xa0"], {}),
    "detect_range_all": (["detect", "-a", HOST1, "0x00", "0x07"], {}),
    "dump_range": (["dump", "-y", "-r", "0x10-0x2f", HOST, "0x50"], {}),
    "dump_range_words": (["dump", "-r", "0x00-0x09", HOST, "0x48", "w"], {}),
    "dump_range_send_receive": (["dump", "-r", "0x10-0x13", HOST, "0x50", "c"], {}),
    "dump_range_i2c_blocks": (["dump", "--range", "0x1e-0x41", HOST1, "0x51", "i"], {}),
    "dump_range_json": (["dump", "--json", "-r", "2-3", HOST, "0x48"], {}),
    "get_receive_json": (["get", "--json", HOST, "0x50"], {}),
    "get_8bit_address": (["get", "--8bit", HOST, "0xA0"], {}),
    "error_8bit_address": (["get", HOST, "0xA0"], {}),
    "error_detect_range_first": (["detect", HOST, "0x02", "0x10"], {}),
    "error_detect_range_order": (["detect", HOST, "0x50", "0x48"], {}),
    "error_detect_range_last_missing": (["detect", HOST, "0x50"], {}),
    "error_dump_range_order": (["dump", "-r", "0x20-0x10", HOST, "0x48"], {}),
    "error_dump_range_form": (["dump", "-r", "0x20", HOST, "0x48"], {}),
    "error_dump_range_block": (["dump", "-r", "0-3", HOST, "0x48", "s"], {}),
    # Messages that say what went wrong.
    "error_unknown_command": (["bogus", HOST], {}),
    "error_unknown_command_after_option": (["-V", "bogus"], {}),
    "error_attr_read_only": (["attr", HOST, "vendor-id", "5"], {}),
    "error_unexpected_arguments": (["attr", HOST, "port", "5", "6", "7"], {}),
    "error_offset_invalid": (["eeprom", HOST, "0x50", "--offset", "abc"], {}),
    "error_length_invalid": (["eeprom", HOST, "0x50", "--length", "abc"], {}),
    "error_length_zero": (["eeprom", HOST, "0x50", "--length", "0"], {}),
    "error_backplane_unknown_chassis": (["attr", "PXI0::7::BACKPLANE", "port"], {}),
    "help_chassis_eeprom": (["chassis-eeprom", "--help"], {}),
    "help_firmware": (["firmware", "--help"], {}),
    "help_dump": (["dump", "--help"], {}),
    "attr_set_unrestricted": (["attr", HOST, "unrestricted", "1"], {}),
    "attr_set_unrestricted_json": (["attr", "--json", HOST, "unrestricted", "1"], {}),
    # --json failures: an error document on the standard output.
    "error_json_absent_device": (["get", "--json", HOST, "0x33", "0"], {}),
    "error_json_usage": (["get", "--json", HOST, "0x78"], {}),
    "error_json_unknown_command": (["--json", "bogus"], {}),
    "error_json_chassis_eeprom_port": (["chassis-eeprom", "--json", HOST], {}),
    # A page write wraps within its 16-byte page; the sequential read back does not.
    "error_json_read_back": (["set", "-y", "-r", "--json", HOST1, "0x51", "0x0e", "1", "2", "3",
                              "4", "i"], {}),
    # Device texts and EEPROM bytes that would act on a terminal.
    "odd_list_verbose": (["list", "-v"], {"world": ODD_TEXTS_WORLD}),
    "odd_list_json": (["list", "-v", "--json"], {"world": ODD_TEXTS_WORLD}),
    "odd_attr_all": (["attr", ODD], {"world": ODD_TEXTS_WORLD}),
    "odd_chassis_eeprom": (["chassis-eeprom", ODD], {"world": ODD_TEXTS_WORLD}),
    "odd_chassis_eeprom_json": (["chassis-eeprom", "--json", ODD], {"world": ODD_TEXTS_WORLD}),
    "odd_eeprom": (["eeprom", ODD, "0x50", "--length", "32"], {"world": ODD_TEXTS_WORLD}),
    "odd_dump": (["dump", "-r", "0-0x1f", ODD, "0x50"], {"world": ODD_TEXTS_WORLD}),
    # A device without a device text: its text reads empty.
    "no_device_text_list": (["list", "-v"], {"world": NO_DEVICE_TEXT_WORLD}),
    "no_device_text_attr": (["attr", "--json", "HOST::SMBUS0", "device-string"],
                            {"world": NO_DEVICE_TEXT_WORLD}),
    # Firmware images the tool refuses before the update.
    # The remote controller's pin-out word reads erased (as after an update cut short).
    "firmware_pinout_mismatch": (["firmware", "-y", REMOTE, "pinout.img"],
                                 {"needs": "mkimage", "setup": "pinout"}),
    "firmware_pinout_mismatch_serial": (["firmware", "-y", HOST, "host-pinout-7.img"],
                                        {"needs": "mkimage", "setup": "host-pinout-7"}),
    "firmware_pinout_match_serial": (["firmware", "-y", HOST, "host-pinout-90.img"],
                                     {"needs": "mkimage", "setup": "host-pinout-90"}),
    "firmware_subsystem_mismatch": (["firmware", "-y", REMOTE, "host-pinout-90.img"],
                                    {"needs": "mkimage", "setup": "host-pinout-90"}),
    # The installed firmware as an image: in a fresh world zelsmbus installed
    # none, so its Version is the running one, and it says so.
    "firmware_read": (["firmware-read", REMOTE, "installed.img"], {}),
    "error_image_missing": (["firmware", "-y", REMOTE, "missing.img"], {}),
    "error_image_device": (["firmware", "-y", REMOTE, "/dev/zero"], {}),
    "error_image_too_large": (["firmware", "-y", REMOTE, "large.img"], {"setup": "large"}),
    # A payload of no bytes whose header agrees (ByteCount 0, the CRC of nothing).
    "firmware_empty": (["firmware", "-y", REMOTE, "empty.img"],
                       {"needs": "mkimage", "setup": "empty"}),
    # No driver, no simulator: an empty list (exit 0) with what is missing and
    # the simulator's form; a named resource says the driver is missing.
    "no_driver_list": (["list"], {"no_driver": True}),
    "no_driver_list_json": (["list", "-v", "--json"], {"no_driver": True}),
    "no_driver_list_world_running": (["list", "-v"], {"no_driver": True, "world_running": True}),
    "no_driver_detect": (["detect", HOST, "0x48", "0x50"], {"no_driver": True}),
    "no_driver_chassis_eeprom": (["chassis-eeprom", BACKPLANE],
                                 {"no_driver": True, "world_running": True}),
}


def hex_lines(data):
    lines = []
    for start in range(0, len(data), 16):
        chunk = data[start:start + 16]
        lines.append("%04x: %s" % (start, " ".join("%02x" % b for b in chunk)))
    return lines


# The largest image the tool reads: the Base64 of the largest firmware region
# (3 MiB), a line feed every 64 characters, and 64 KiB of header.
LARGEST_IMAGE = 4 * 1024 * 1024 + 65536 + 65536


def make_images(kind, mkimage, folder):
    """Builds firmware images with the project's image tool."""
    if kind == "large":
        # One byte more than any image can be (sparse: nothing is written).
        with open(os.path.join(folder, "large.img"), "wb") as f:
            f.truncate(LARGEST_IMAGE + 1)
        return
    if kind in ("new", "damaged", "pinout", "empty"):
        version = "0x02000200"   # newer than the remote controller's 0x02000100
    else:
        version = "0x02000100"   # the installed version
    payload = os.path.join(folder, "firmware.bin")
    with open(payload, "wb") as f:
        f.write(bytes((i * 7 + 3) & 0xFF for i in range(1024)))
    name = kind + ".img"
    # The remote controller carries pin-out version 3 at 0x20000 (the built-in
    # world); its word at 0xFFF0 is erased, and the "pinout" image, made for
    # version 7 there, meets an erased word.
    subsystem, address, pinout = "0x7A51", "0x20000", "3"
    if kind == "pinout":
        address, pinout = "0xFFF0", "7"
    if kind.startswith("host-pinout"):
        # The host controller's flash (0x1010) holds written words in block 2:
        # word 1 is 0x5A010001 (big-endian), so the byte the pin-out version is
        # read from, the word's lowest in memory order, is 0x5A (90).
        subsystem, address, version = "0x7270", "0x10004", "0x01020100"
        pinout = "90" if kind == "host-pinout-90" else "7"
    command = [mkimage, "--subsystem-id", subsystem, "--pinout-addr", address,
               "--pinout-ver", pinout, "--firmware-version", version,
               "--output", os.path.join(folder, name), payload]
    subprocess.run(command, check=True, capture_output=True)
    if kind == "damaged":
        path = os.path.join(folder, name)
        with open(path, "rb") as f:
            image = bytearray(f.read())
        # Change one Base64 character of the payload so that the CRC no longer fits.
        body = image.index(b"\r\n\r\n") + 4
        image[body + 10] = ord("A") if image[body + 10] != ord("A") else ord("B")
        with open(path, "wb") as f:
            f.write(image)
    if kind == "empty":
        path = os.path.join(folder, name)
        with open(path, "rb") as f:
            header = f.read().split(b"\r\n\r\n")[0].split(b"\r\n")
        lines = [b"CRC::0x00000000" if line.startswith(b"CRC::") else
                 b"ByteCount::0" if line.startswith(b"ByteCount::") else line
                 for line in header]
        with open(path, "wb") as f:
            f.write(b"\r\n".join(lines) + b"\r\n\r\n=\r\n")


def json_verdict(output):
    """Whether every line is one JSON document in valid UTF-8."""
    lines = output.splitlines()
    if not lines:
        return "nothing written"
    for line in lines:
        try:
            json.loads(line.decode("utf-8", "strict"))
        except ValueError as e:
            return "INVALID (%s)" % e
    return "%d valid document%s" % (len(lines), "" if len(lines) == 1 else "s")


# Run under the launcher: the bus client locks the bus and keeps it until the
# tool (the remaining arguments) has ended.
HOLD_LOCK = """
import subprocess, sys
holder = subprocess.Popen([sys.argv[1], "hold"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
if holder.stdout.readline() != b"locked\\n":
    sys.exit("the bus client could not lock the bus")
tool = subprocess.run(sys.argv[2:])
holder.stdin.close()
holder.wait()
sys.exit(tool.returncode)
"""


def run_case(name, launcher, tool, mkimage, bus_client):
    arguments, options = CASES[name]
    with tempfile.TemporaryDirectory(prefix="zelsmbus-golden-") as folder:
        if options.get("setup"):
            make_images(options["setup"], mkimage, folder)
        env = dict(os.environ)
        env.pop("ZELSMBUS_INTERACTIVE", None)
        # Firmware backups and journals go to the case's folder, never the user's:
        # the state folder of the case's simulated world.
        env["ZELSIM_STATE_DIR"] = os.path.join(folder, "state")
        if "interactive" in options:
            env["ZELSMBUS_INTERACTIVE"] = options["interactive"]
        world = []
        if "world" in options:
            with open(os.path.join(folder, "world.toml"), "w") as f:
                f.write(options["world"])
            world = ["--world", os.path.join(folder, "world.toml")]
        # In-process: each case a fresh world of its own, and a firmware update
        # (millions of driver commands) at in-process speed.
        command = [launcher, "--in-process"] + world + ["--", tool] + arguments
        if options.get("no_driver"):
            for name in ("LD_PRELOAD", "ZELSIM_SERVER", "ZELSIM_WORLD"):
                env.pop(name, None)
            env["ZELSIM_RUNTIME_DIR"] = os.path.join(folder, "runtime")
            command = [tool] + arguments
            if os.path.exists("/proc/driver/zel"):
                print("this machine has the driver: the case cannot run here")
                return "skipped\n"
            if options.get("world_running"):
                subprocess.run([launcher, "start"], env=env, check=True, timeout=60)
        if options.get("lock_held"):
            # One world for the holder and the tool: a world of the case's own
            # (a world the user started elsewhere is left alone).
            env["ZELSIM_RUNTIME_DIR"] = folder
            command = [launcher] + world + ["--", sys.executable, "-c", HOLD_LOCK, bus_client,
                                            tool] + arguments
        try:
            result = subprocess.run(command, cwd=folder, env=env,
                                    input=options.get("stdin", "").encode(), capture_output=True,
                                    timeout=120)
        finally:
            if options.get("world_running"):
                subprocess.run([launcher, "stop"], env=env, timeout=60)
        text = ["$ zelsmbus " + " ".join(arguments)]
        if "stdin" in options:
            text.append("--- stdin")
            text.extend(options["stdin"].splitlines() or [""])
        # The case's folder (backups are saved there) reads the same in every run.
        def lines(output):
            return output.decode("utf-8", "replace").replace(folder, "FOLDER").splitlines()
        text.append("--- stdout")
        text.extend(lines(result.stdout))
        text.append("--- stderr")
        text.extend(lines(result.stderr))
        for file_name in options.get("files", []):
            text.append("--- file " + file_name)
            path = os.path.join(folder, file_name)
            if os.path.exists(path):
                with open(path, "rb") as f:
                    text.extend(hex_lines(f.read()))
            else:
                text.append("(missing)")
        if "--json" in arguments:
            text.append("--- stdout as JSON: " + json_verdict(result.stdout))
        text.append("--- exit %d" % result.returncode)
        return "\n".join(text) + "\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--case")
    parser.add_argument("--launcher")
    parser.add_argument("--tool")
    parser.add_argument("--mkimage")
    parser.add_argument("--bus-client")
    parser.add_argument("--update", action="store_true")
    args = parser.parse_args()

    if args.list:
        for name, (_, options) in CASES.items():
            needs = options.get("needs")
            print((needs + ":" if needs else "") + name)
        return 0

    actual = run_case(args.case, args.launcher, args.tool, args.mkimage, args.bus_client)
    golden_path = os.path.join(GOLDEN, args.case + ".txt")
    if args.update:
        with open(golden_path, "w") as f:
            f.write(actual)
        return 0
    try:
        with open(golden_path) as f:
            expected = f.read()
    except FileNotFoundError:
        sys.stdout.write(actual)
        print("no golden file " + golden_path)
        return 1
    if actual == expected:
        return 0
    sys.stdout.writelines(difflib.unified_diff(expected.splitlines(True), actual.splitlines(True),
                                               "golden/" + args.case + ".txt", "actual"))
    return 1


if __name__ == "__main__":
    sys.exit(main())
