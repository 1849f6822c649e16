#!/usr/bin/python3
"""zelsmbus capture against the simulated driver.

  capture_world.py --list
  capture_world.py --case NAME --launcher L --tool T

round_trip: a world with two controllers (two flash devices with contents of
their own), EEPROMs, register devices of both layouts with blocks, a protected
address and a chassis is captured with --flash; a world started from the
capture must show the same for every read-only observation of the tool.
built_in_world: the built-in world without --flash, the same.
reads_only: a started world's snapshot is the same before and after a capture.
incomplete: a read that fails is named on the standard error stream and in the
file, and the exit status is 1.
unwritable: an output file that cannot be written is refused before the
driver is asked anything.
redact: --redact leaves no chassis serial number in the file, and the file
still loads; a backplane name alone brings its port.
progress: shown on the standard error stream only when it is a terminal.
"""
import argparse
import os
import random
import re
import subprocess
import sys
import tempfile

PIN_OUT = 0x18000


class Failure(Exception):
    pass


def expect(condition, message, run=None):
    if not condition:
        if run is not None:
            message += "\n--- stdout\n%s--- stderr\n%s" % (run.stdout, run.stderr)
        raise Failure(message)


def hexrun(address, data):
    return '{ address = 0x%x, hex = "%s" }' % (address, bytes(data).hex())


def world_text():
    rng = random.Random(29)
    region1010 = bytes(rng.getrandbits(8) for _ in range(700))
    block2 = bytes(rng.getrandbits(8) for _ in range(96))
    region2 = bytes(rng.getrandbits(8) for _ in range(1200))
    eeprom = [rng.getrandbits(8) for _ in range(200)]
    regs = [rng.getrandbits(8) for _ in range(256)]
    for i in range(0x40, 0x48):  # a block's registers, as its data gives them
        regs[i] = 0x10 + i
    words = [rng.getrandbits(16) for _ in range(40)]
    return """
[simulator]
lock_timeout_ms = 50

[[device]]
instance = "zelA"
vendor_id = 0x8086
device_id = 0x1D22
subsystem_vendor_id = 0x8086
subsystem_id = 0x7270
bus = 0
device = 0x1F
function = 3
device_string = "Host SMBus, Zürich \\"lab\\""
flash_id = 0x1010
firmware_version = 0x01020304
flash_contents = [ %s, %s, { address = 0x%x, hex = "05a1b2c3" } ]
  [[device.port]]
  text = "HOST::SMBUS0"
  protected = [0x58, 0x62]
  attributes = { 1005 = 7, 2001 = 0x12345678, 10001 = 5 }
    [[device.port.target]]
    address7 = 0x50
    kind = "eeprom"
    contents = %s
    [[device.port.target]]
    address7 = 0x51
    kind = "eeprom"
    contents = "ascii:serial presence detect"
    [[device.port.target]]
    address7 = 0x16
    kind = "eeprom"
    contents = "counter"
    [[device.port.target]]
    address7 = 0x48
    kind = "registers"
    layout = "words_msb_first"
    words = %s
    [[device.port.target]]
    address7 = 0x2C
    kind = "registers"
    bytes = [1, 2, 3]
    [[device.port.target]]
    address7 = 0x3A
    kind = "nack"
  [[device.port]]
  text = "HOST::SMBUS1"
  extended_protection = true
    [[device.port.target]]
    address7 = 0x20
    kind = "registers"
    bytes = %s
    blocks = [ { command = 0x40, data = [0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57] },
               { command = 0x90, data = [%d] } ]

[[device]]
instance = "zelB"
vendor_id = 0x1E2D
device_id = 0x7A01
subsystem_vendor_id = 0x1E2D
subsystem_id = 0x7A10
bus = 5
device = 0
function = 0
device_string = "Chassis controller"
flash_id = 0x1010
firmware_version = 0x00000201
flash_contents = [ %s, { address = 0x%x, hex = "07000000" } ]
  [[device.port]]
  text = "PXI0::BACKPLANE0"
  chassis_eeprom = true
  extended_protection = true
  chassis = 3
  attributes = { 1005 = 1 }
    [[device.port.target]]
    address7 = 0x52
    kind = "chassis_eeprom"
    contents = [0x01, 0x02, 0x03, 0x04, 0x05]
    [[device.port.target]]
    address7 = 0x57
    kind = "eeprom"
    contents = "fill:0x3c"

[[chassis]]
number = 3
model = "Chassis 18-slot"
vendor = "Example Instruments"
serial = "SN-0042-XYZ"
slot1 = "ZELSMBUS system controller"
""" % (hexrun(0, region1010), hexrun(0x10000, block2), PIN_OUT,
       "[" + ", ".join(map(str, eeprom)) + "]", "[" + ", ".join(map(str, words)) + "]",
       "[" + ", ".join(map(str, regs)) + "]", regs[0x90],
       hexrun(0, region2), PIN_OUT)


class Setup:
    def __init__(self, args, folder):
        self.args, self.folder = args, folder
        self.env = dict(os.environ)
        self.env["ZELSIM_RUNTIME_DIR"] = os.path.join(folder, "runtime")
        self.env["XDG_STATE_HOME"] = os.path.join(folder, "state")
        self.env.pop("ZELSIM_SERVER", None)
        self.world = self.write("world.toml", world_text())

    def write(self, name, text):
        path = os.path.join(self.folder, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def run(self, world, *arguments):
        """The tool in a private world of its own (None: the built-in world)."""
        chosen = ["--world", world] if world else []
        return subprocess.run([self.args.launcher] + chosen + ["--", self.args.tool]
                              + list(arguments), env=self.env, capture_output=True, text=True,
                              timeout=300)

    def launcher(self, *arguments):
        return subprocess.run([self.args.launcher] + list(arguments), env=self.env,
                              capture_output=True, text=True, timeout=300)

    def capture(self, *options, name="captured.toml"):
        path = os.path.join(self.folder, name)
        run = self.run(self.world, "capture", "-o", path, *options)
        return run, path


def observations(setup, world, flash=True):
    """Every read-only view of the tool, as text, keyed by the command line."""
    seen = {}

    def note(*arguments):
        run = setup.run(world, *arguments)
        # The file name of firmware-read is the folder's own; the rest is the answer.
        seen[" ".join(arguments)] = (run.returncode, run.stdout, run.stderr)
        return run

    listing = note("list", "-v", "--json")
    expect(listing.returncode == 0, "list -v failed", listing)
    note("list", "-v")
    names = re.findall(r'"name":"([^"]+)"', listing.stdout)
    for name in names:
        if name.endswith("::BACKPLANE"):
            note("chassis-eeprom", "--raw", name)
            continue
        detect = note("detect", "--json", name)
        found = [int(a) for a in re.search(r'"found":\[([0-9,]*)\]', detect.stdout).group(1).split(",") if a]
        note("detect", "-a", name)
        note("attr", name)
        for address in found:
            note("dump", name, hex(address))
            note("dump", name, hex(address), "w")
            note("eeprom", name, hex(address))
            note("get", name, hex(address), "0x40", "s")
        if not flash or not name.endswith("::0"):
            continue  # one controller's flash, read once
        read = os.path.join(setup.folder, "read.img")
        run = setup.run(world, "firmware-read", "--pinout-addr", hex(PIN_OUT), name, read)
        image = open(read).read() if run.returncode == 0 else ""
        if run.returncode == 0:
            os.unlink(read)
        seen["firmware-read " + name] = (run.returncode, run.stdout, run.stderr, image)
    return seen, names


def case_round_trip(setup):
    run, path = setup.capture("--flash", "--pinout-addr", hex(PIN_OUT))
    expect(run.returncode == 0, "capture failed", run)
    text = open(path).read()
    # A comment says where each value came from.
    expect("# attribute 101" in text and "# attribute 301" in text, "no source comments:\n" + text)
    before, names = observations(setup, setup.world)
    after, names_after = observations(setup, path)
    expect(names == names_after, "resource names differ: %s / %s" % (names, names_after))
    expect(any(n.endswith("::BACKPLANE") for n in names), "the chassis is not listed: %s" % names)
    expect(sum(1 for key in before if key.startswith("dump")) >= 10, "too few devices found")
    for key in before:
        expect(before[key] == after[key],
               "'%s' differs after the round trip:\n--- original\n%s\n--- captured\n%s\n--- world\n%s"
               % (key, before[key], after[key], text))
    # Its own capture captures the same world again.
    again = setup.run(setup.world, "capture")
    second = setup.run(path, "capture")
    expect(second.returncode == 0 and second.stdout == again.stdout,
           "a capture of the capture differs", second)


def case_built_in_world(setup):
    """The built-in world without --flash: the same apart from the flash contents
    (its configuration flag included, which stays clear on both sides)."""
    path = os.path.join(setup.folder, "built-in.toml")
    run = setup.run(None, "capture", "-o", path)
    expect(run.returncode == 0, "capture failed", run)
    before, _ = observations(setup, None, flash=False)
    after, _ = observations(setup, path, flash=False)
    for key in before:
        expect(before[key] == after[key], "'%s' differs:\n%s\n%s" % (key, before[key], after[key]))


def case_reads_only(setup):
    start = setup.launcher("start", "--world", setup.world)
    expect(start.returncode == 0, "zelsim start failed", start)
    try:
        first = setup.launcher("snapshot")
        expect(first.returncode == 0, "snapshot failed", first)
        run = subprocess.run([setup.args.launcher, "--", setup.args.tool, "capture", "--flash",
                              "--pinout-addr", hex(PIN_OUT)], env=setup.env,
                             capture_output=True, text=True, timeout=300)
        expect(run.returncode == 0, "capture failed", run)
        second = setup.launcher("snapshot")
        expect(first.stdout == second.stdout, "the world changed under a capture:\n" +
               "\n".join(l for l in set(first.stdout.splitlines()) ^ set(second.stdout.splitlines())))
    finally:
        setup.launcher("stop")


def case_incomplete(setup):
    start = setup.launcher("start", "--world", setup.world)
    expect(start.returncode == 0, "zelsim start failed", start)
    try:
        # The driver fails the first SMBus block read the capture makes (ETIMEDOUT:
        # EIO would read as no acknowledgement, a device that is not there).
        fault = setup.launcher("fault", "errno", "0x13", "110", "1")
        expect(fault.returncode == 0, "zelsim fault failed", fault)
        path = os.path.join(setup.folder, "partial.toml")
        run = subprocess.run([setup.args.launcher, "--", setup.args.tool, "capture", "-o", path],
                             env=setup.env, capture_output=True, text=True, timeout=300)
        expect(run.returncode == 1, "a capture with an unreadable device must fail", run)
        expect("incomplete" in run.stderr and "SMBus block read" in run.stderr,
               "the failure is not named", run)
        text = open(path).read()
        expect("# INCOMPLETE" in text and "SMBus block read" in text,
               "the file does not name what is missing:\n" + text)
        load = setup.run(path, "list")
        expect(load.returncode == 0, "the partial capture does not load", load)
    finally:
        setup.launcher("stop")


def case_unwritable(setup):
    # A missing folder, a "folder" that is a file, a folder as the file.
    for target in ["/nonexistent-folder/w.toml", os.path.join(setup.world, "w.toml"),
                   setup.folder]:
        # No driver at all: a command that reached the library would fail otherwise.
        run = subprocess.run([setup.args.tool, "capture", "-o", target], env=setup.env,
                             capture_output=True, text=True, timeout=60)
        expect(run.returncode == 1 and ("cannot write " + target) in run.stderr,
               "an unwritable %s was not refused first" % target, run)
        expect(sorted(os.listdir(setup.folder)) == ["world.toml"], "a file appeared")


def case_redact(setup):
    # The backplane name alone: it brings its port and chassis along.
    run, path = setup.capture("--redact", "PXI0::3::BACKPLANE")
    expect(run.returncode == 0, "capture --redact failed", run)
    text = open(path).read()
    serial = b"SN-0042-XYZ"
    expect("SN-0042" not in text, "the serial number is in the file:\n" + text)
    # Nor as EEPROM bytes.
    expect(", ".join("0x%02X" % b for b in serial[:4]) not in text, "the serial's bytes remain")
    listing = setup.run(path, "list")
    expect(listing.returncode == 0 and "PXI0::3::BACKPLANE" in listing.stdout,
           "the redacted world does not list its chassis", listing)
    eeprom = setup.run(path, "chassis-eeprom", "PXI0::3::BACKPLANE")
    expect(eeprom.returncode == 0 and "REDACTED" in eeprom.stdout, "redacted serial not shown",
           eeprom)


def case_progress(setup):
    """Progress on the standard error stream when it is a terminal, never otherwise."""
    import pty
    for terminal in (True, False):
        main, other = pty.openpty() if terminal else os.pipe()
        out = os.path.join(setup.folder, "p.toml")
        process = subprocess.Popen([setup.args.launcher, "--world", setup.world, "--",
                                    setup.args.tool, "capture", "-o", out],
                                   env=setup.env, stdout=subprocess.DEVNULL, stderr=other)
        os.close(other)
        err = b""
        while True:
            try:
                chunk = os.read(main, 65536)
            except OSError:  # the terminal's other end closed
                break
            if not chunk:
                break
            err += chunk
        os.close(main)
        expect(process.wait(timeout=300) == 0, "capture failed: %r" % err[-500:])
        shown = b"capture: ZELSMBUS::SYSTEM::0::0: probing" in err
        expect(shown == terminal, "progress %s on a %s: %r" % (
            "missing" if terminal else "shown", "terminal" if terminal else "pipe", err[-300:]))
        if terminal:  # and the last progress line is cleared
            expect(err.endswith(b"\r\x1b[K"), "progress left on the terminal: %r" % err[-100:])


CASES = {
    "round_trip": case_round_trip,
    "built_in_world": case_built_in_world,
    "reads_only": case_reads_only,
    "incomplete": case_incomplete,
    "unwritable": case_unwritable,
    "redact": case_redact,
    "progress": case_progress,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--case")
    parser.add_argument("--launcher")
    parser.add_argument("--tool")
    args = parser.parse_args()
    if args.list:
        print("\n".join(CASES))
        return 0
    with tempfile.TemporaryDirectory() as folder:
        setup = Setup(args, folder)
        try:
            CASES[args.case](setup)
        except Failure as failure:
            print("FAIL %s: %s" % (args.case, failure), file=sys.stderr)
            return 1
    print("ok %s" % args.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
