#!/usr/bin/python3
"""Runs the zelsmbus tool under the simulator launcher and compares what it
prints (standard output, standard error, exit status, files it writes) with a
golden file in golden/.

  golden_driver.py --list                       names of all cases
  golden_driver.py --case NAME --launcher L --tool T [--mkimage M] [--update]

--update rewrites the golden file from the run instead of comparing; read the
difference before committing it.
"""
import argparse
import difflib
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

# name: (arguments, options). Options: stdin (text fed to the tool),
# interactive ("1"/"0": the tool's terminal decision), files (written files to
# show as hex), needs ("mkimage"), setup (commands run before, in the case's
# folder, {mkimage} replaced).
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
    "attr_set": (["attr", "--unrestricted", HOST, "setting-10001", "250"], {}),
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
}


def hex_lines(data):
    lines = []
    for start in range(0, len(data), 16):
        chunk = data[start:start + 16]
        lines.append("%04x: %s" % (start, " ".join("%02x" % b for b in chunk)))
    return lines


def make_images(kind, mkimage, folder):
    """Builds firmware images with the project's image tool."""
    if kind in ("new", "damaged"):
        version = "0x02000200"   # newer than the remote controller's 0x02000100
    else:
        version = "0x02000100"   # the installed version
    payload = os.path.join(folder, "firmware.bin")
    with open(payload, "wb") as f:
        f.write(bytes((i * 7 + 3) & 0xFF for i in range(1024)))
    name = {"new": "new.img", "old": "old.img", "damaged": "damaged.img"}[kind]
    # The pin-out word at 0xFFF0 of the remote controller's flash is erased, so
    # its version reads as 0xFF.
    command = [mkimage, "--subsystem-id", "0x7A51", "--pinout-addr", "0xFFF0",
               "--pinout-ver", "0xFF", "--version", version,
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


def run_case(name, launcher, tool, mkimage):
    arguments, options = CASES[name]
    with tempfile.TemporaryDirectory(prefix="zelsmbus-golden-") as folder:
        if options.get("setup"):
            make_images(options["setup"], mkimage, folder)
        env = dict(os.environ)
        env.pop("ZELSMBUS_INTERACTIVE", None)
        if "interactive" in options:
            env["ZELSMBUS_INTERACTIVE"] = options["interactive"]
        # In-process: each case a fresh world of its own, and a firmware update
        # (millions of driver commands) at in-process speed.
        result = subprocess.run([launcher, "--in-process", "--", tool] + arguments, cwd=folder,
                                env=env,
                                input=options.get("stdin", "").encode(), capture_output=True,
                                timeout=120)
        text = ["$ zelsmbus " + " ".join(arguments)]
        if "stdin" in options:
            text.append("--- stdin")
            text.extend(options["stdin"].splitlines() or [""])
        text.append("--- stdout")
        text.extend(result.stdout.decode("utf-8", "replace").splitlines())
        text.append("--- stderr")
        text.extend(result.stderr.decode("utf-8", "replace").splitlines())
        for file_name in options.get("files", []):
            text.append("--- file " + file_name)
            path = os.path.join(folder, file_name)
            if os.path.exists(path):
                with open(path, "rb") as f:
                    text.extend(hex_lines(f.read()))
            else:
                text.append("(missing)")
        text.append("--- exit %d" % result.returncode)
        return "\n".join(text) + "\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--case")
    parser.add_argument("--launcher")
    parser.add_argument("--tool")
    parser.add_argument("--mkimage")
    parser.add_argument("--update", action="store_true")
    args = parser.parse_args()

    if args.list:
        for name, (_, options) in CASES.items():
            print(("mkimage:" if options.get("needs") == "mkimage" else "") + name)
        return 0

    actual = run_case(args.case, args.launcher, args.tool, args.mkimage)
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
