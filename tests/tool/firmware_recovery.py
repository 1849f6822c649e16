#!/usr/bin/python3
"""The firmware command's habits, run against the simulated driver.

  firmware_recovery.py --list
  firmware_recovery.py --case NAME --launcher L --tool T --mkimage M --lock-holder H

Every case runs in one fixture (Setup): images built with the image maker, and
a started (shared) world with a private runtime folder and state directory,
with one controller (resource ZELSMBUS::SYSTEM::0::0) whose flash holds the old
image and the pin-out version 3. The world outlives a killed tool, and several
processes reach one flash, as on a real machine. The lock holder is a helper
that holds the controller's flash writer lock as the tool takes it.
"""
import argparse
import base64
import json
import os
import random
import re
import signal
import stat
import subprocess
import sys
import tempfile
import time

RESOURCE = "ZELSMBUS::SYSTEM::0::0"

# Flash device: (pin-out address, Offset, payload size). The 0xBF8E and 0x9D17
# pin-out words lie inside the region an update rewrites (an interrupted update
# erases them); the payload carries the version there, as a board's image does.
DEVICES = {
    "1010": (0x18000, 0, 0x10000),
    "bf8e": (0x10100, 0x10000, 0x20000),
    "9d17": (0x300100, 0, 0x40000),
}


class Failure(Exception):
    pass


def expect(condition, message, run=None):
    if not condition:
        if run is not None:
            message += "\n--- stdout\n%s--- stderr\n%s" % (run.stdout, run.stderr)
        raise Failure(message)


def payload(device, seed, size=None, address=None):
    default_address, offset, default_size = DEVICES[device]
    address = default_address if address is None else address
    rng = random.Random(seed)
    data = bytearray(rng.getrandbits(8) for _ in range(size or default_size))
    data[-1] = 0x5A  # a firmware-read trims trailing 0xFF: keep the end visible
    base = {"1010": 0, "bf8e": offset, "9d17": 0x300000}[device]
    if base <= address < base + len(data):
        data[address - base] = 3
    return bytes(data)


def tool_crc(data):
    """The tool's CRC-32 (polynomial 0x1EDC6F41, MSB first), which checks a journal."""
    crc = 0xFFFFFFFF
    for byte in data:
        crc ^= byte << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1EDC6F41) if crc & 0x80000000 else crc << 1
            crc &= 0xFFFFFFFF
    return crc ^ 0xFFFFFFFF


def signed(body):
    """A journal's lines with the check line the tool reads them by."""
    return body + "check=0x%08x\n" % tool_crc(body.encode())


def resigned(text, *replacements):
    """A journal with some of its text replaced and its check made anew."""
    body = text[:text.rindex("check=")]
    for old, new in replacements:
        expect(old in body, "the journal holds no %r:\n%s" % (old, body))
        body = body.replace(old, new)
    return signed(body)


class Setup:
    def __init__(self, args, folder, device, pin_out_erased=False, pin_out_address=None):
        self.args, self.folder, self.device = args, folder, device
        self.address = DEVICES[device][0] if pin_out_address is None else pin_out_address
        self.env = dict(os.environ)
        # The world's state kept in a folder of the case's own; the state
        # folder of the hardware must stay empty.
        self.env["ZELSIM_STATE_DIR"] = os.path.join(folder, "state")
        self.env["XDG_STATE_HOME"] = os.path.join(folder, "hardware-state")
        self.env["ZELSIM_RUNTIME_DIR"] = os.path.join(folder, "runtime")
        self.env.pop("ZELSMBUS_INTERACTIVE", None)
        self.old = payload(device, 1, address=self.address)
        self.new = payload(device, 2, address=self.address)
        address = self.address
        pin_out = "pin_out = { address = 0x%x, version = 3 }" % address
        if pin_out_erased:  # inside the region, as an update cut short leaves it
            at = address - DEVICES[device][1]
            self.old = self.old[:at] + b"\xff" * 4 + self.old[at + 4:]
            pin_out = ""
        self.image("old.img", self.old, 1)
        self.image("new.img", self.new, 2)
        with open(os.path.join(folder, "world.toml"), "w") as f:
            f.write('[[device]]\nsubsystem_id = 0x%s\nflash_id = 0x%s\nfirmware_image = "old.img"\n'
                    '%s\n  [[device.port]]\n  text = "P0"\n' % (device, device, pin_out))

    def image(self, name, data, version):
        address, offset = self.address, DEVICES[self.device][1]
        with open(os.path.join(self.folder, name + ".bin"), "wb") as f:
            f.write(data)
        subprocess.run([self.args.mkimage, os.path.join(self.folder, name + ".bin"),
                        "-o", os.path.join(self.folder, name), "--subsystem-id", "0x" + self.device,
                        "--pinout-addr", hex(address), "--pinout-ver", "3",
                        "--firmware-version", str(version), "--offset", hex(offset)],
                       check=True, capture_output=True)

    def start(self, world=None):
        run = subprocess.run([self.args.launcher, "start", "--world",
                              world or os.path.join(self.folder, "world.toml")],
                             env=self.env, capture_output=True, text=True)
        expect(run.returncode == 0, "zelsim start failed", run)

    def reset(self):
        subprocess.run([self.args.launcher, "reset"], env=self.env, check=True, capture_output=True)

    def stop(self):
        subprocess.run([self.args.launcher, "stop"], env=self.env, capture_output=True)

    def command(self, arguments, program=None):
        return [self.args.launcher, "--", program or self.args.tool] + arguments

    def tool(self, *arguments):
        return subprocess.run(self.command(list(arguments)), env=self.env, cwd=self.folder,
                              capture_output=True, text=True, timeout=600)

    def spawn(self, *arguments, program=None, env=None):
        # A process group of its own: the signal reaches the tool under the launcher.
        return subprocess.Popen(self.command(list(arguments), program), env=env or self.env,
                                cwd=self.folder, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True, start_new_session=True)

    def installed(self, name="read.img"):
        """The firmware bytes firmware-read gives back, trailing 0xFF trimmed."""
        address, offset = self.address, DEVICES[self.device][1]
        run = self.tool("firmware-read", "--pinout-addr", hex(address), "--offset", hex(offset),
                        RESOURCE, name)
        expect(run.returncode == 0, "firmware-read failed", run)
        with open(os.path.join(self.folder, name), "rb") as f:
            text = f.read()
        return base64.b64decode(text.split(b"\r\n\r\n", 1)[1].split(b"\r\n")[0])

    def flash(self, start, length):
        """Bytes of the controller's flash, from the started world's snapshot."""
        run = subprocess.run([self.args.launcher, "snapshot"], env=self.env,
                             capture_output=True, text=True)
        expect(run.returncode == 0, "zelsim snapshot failed", run)
        data = bytearray(b"\xff" * length)
        for address, digits in re.findall(r'\{ address = (0x[0-9a-fA-F]+), hex = "([0-9A-F]*)" \}',
                                          run.stdout):
            run_bytes = bytes.fromhex(digits)
            at = int(address, 16)
            for i in range(max(at, start), min(at + len(run_bytes), start + length)):
                data[i - start] = run_bytes[i - at]
        return bytes(data)

    def state_files(self):
        found = []
        for root, _, files in os.walk(os.path.join(self.folder, "state")):
            found.extend(os.path.join(root, name) for name in files)
        return found

    def journals(self):
        return [path for path in self.state_files() if path.endswith(".journal")]

    def backups(self):
        return sorted(path for path in self.state_files() if path.endswith(".backup.img"))

    def world_id(self):
        run = subprocess.run(self.command(["-c", "echo $ZELSIM_WORLD_ID"], "sh"), env=self.env,
                             capture_output=True, text=True)
        return run.stdout.strip()

    def board(self):
        """This board's file stem and its line in journals and backups."""
        device = self.device
        return ("board-00.00.0-0000.0000.0000." + device,
                "world=simulated %s;pci=00:00.0;ids=0000:0000:0000:%s;flash=0x%s"
                % (self.world_id(), device, device))

    def journal_file(self):
        return os.path.join(self.folder, "state", "zelsmbus", self.board()[0] + ".journal")

    def pin_out_bytes(self):
        return self.flash(self.address, 4)

    def kill_during_write(self, *arguments, delay=0.2):
        """Starts the command and kills it delay seconds into the flash write."""
        process = self.spawn(*arguments)
        wait_for_line(process, "Writing the firmware")
        time.sleep(delay)
        os.killpg(process.pid, signal.SIGKILL)
        out, err = process.communicate()
        expect(process.returncode == -signal.SIGKILL, "the update ended (exit %s) before the "
               "kill:\n%s%s" % (process.returncode, out, err))
        expect(os.path.exists(self.journal_file()), "no journal after the kill")

    def power_cut(self):
        """The machine loses power: the tool is gone, the flash keeps what it holds and
        the world starts again from it. The simulator gives a restarted world a new
        identity, so the journal is told it is this world's (as on the hardware,
        whose world is always the same)."""
        snapshot = subprocess.run([self.args.launcher, "snapshot"], env=self.env,
                                  capture_output=True, text=True)
        expect(snapshot.returncode == 0, "zelsim snapshot failed", snapshot)
        world = os.path.join(self.folder, "after-power-cut.toml")
        with open(world, "w") as f:
            f.write(snapshot.stdout)
        before = self.world_id()
        self.stop()
        self.start(world)
        after = self.world_id()
        with open(self.journal_file()) as f:
            text = f.read()
        with open(self.journal_file(), "w") as f:
            f.write(resigned(text, ("simulated " + before, "simulated " + after)))
        for backup in self.backups():
            with open(backup, "rb") as f:
                data = f.read()
            with open(backup, "wb") as f:
                f.write(data.replace(before.encode(), after.encode()))


def wait_for_line(process, text):
    """Reads the tool's output up to the line that holds text."""
    seen = ""
    for line in process.stdout:
        seen += line
        if text in line:
            return seen
    raise Failure("the tool ended before %r:\n%s%s" % (text, seen, process.stderr.read()))


def wait_for_question(process):
    """Reads the tool's standard error up to its question."""
    asked = ""
    while "Continue?" not in asked:
        char = process.stderr.read(1)
        if char == "":
            raise Failure("the tool ended before its question:\n" + asked)
        asked += char


# Kill points per device: the first 0.2 s after the write began (the erase or
# the first pages), the others as fractions of how long the repeat before took.
# Fewer on the larger regions: each repeat reads the whole region back.
KILL_POINTS = {"1010": (0.15, 0.4), "bf8e": (0.3,), "9d17": ()}


def kill_sweep(setup):
    """SIGKILL at sampled points of the write; the same command run again
    completes (the library verified the whole region), and firmware-read
    gives back the new image."""
    device = setup.device
    command = ("firmware", "-y", "--no-backup", RESOURCE, "new.img")
    delay, points = 0.2, [None] + list(KILL_POINTS[device])
    for index, fraction in enumerate(points):
        # A machine that is less busy than during the repeat measured may
        # finish the write before the kill: then the point is tried earlier.
        for attempt in range(3):
            if index > 0 or attempt > 0:
                setup.reset()
            process = setup.spawn(*command)
            wait_for_line(process, "Writing the firmware")
            time.sleep(delay)
            os.killpg(process.pid, signal.SIGKILL)
            out, err = process.communicate()
            if process.returncode != 0:
                break
            delay /= 2
        expect(process.returncode == -signal.SIGKILL,
               "%s: the update ended (exit %s) before the kill %.2f s into the write:\n%s%s"
               % (device, process.returncode, delay, out, err))
        began = time.monotonic()
        again = setup.tool(*command)
        expect(again.returncode == 0,
               "%s: the update killed %.2f s into the write did not complete when run again"
               % (device, delay), again)
        expect("did not finish" in again.stdout, "%s: the repeat does not tell of the "
               "interrupted update" % device, again)
        if index + 1 < len(points):
            delay = (time.monotonic() - began) * points[index + 1]
    # 0x9D17's region is 3 MiB: its repeat already read all of it back
    # (and the boot header), and two more readings through the register
    # attributes would take minutes in a shared world.
    if device != "9d17":
        expect(setup.installed() == setup.new, "%s: after the kills and repeats, "
               "firmware-read does not give the new image back" % device)
    expect(not setup.journals(), "%s: a journal is left behind: %s"
           % (device, setup.journals()))


def simulated_state_apart(setup):
    """Under zelsim the tool keeps backups and journals in the world's own
    folder, never in the hardware's: they go with 'zelsim stop' unless
    --keep-state copies them, and a journal is resumed only by the world and
    the board it was written for."""
    env = dict(setup.env)
    del env["ZELSIM_STATE_DIR"]
    world_state = os.path.join(setup.folder, "runtime", "zelsim.state", "zelsmbus")
    hardware_state = os.path.join(setup.folder, "hardware-state")
    journal_name = setup.board()[0] + ".journal"

    def tool(*arguments, environment=env):
        return subprocess.run(setup.command(list(arguments)), env=environment, cwd=setup.folder,
                              capture_output=True, text=True, timeout=600)

    update = tool("firmware", "-y", RESOURCE, "new.img")
    expect(update.returncode == 0 and world_state in update.stdout,
           "the backup is not saved in the world's folder", update)
    expect(os.path.exists(os.path.join(world_state, setup.board()[0] + ".backup.img")),
           "no backup in the world's folder")
    # An update killed while it writes leaves its journal in the world's folder.
    setup.reset()
    process = subprocess.Popen(setup.command(["firmware", "-y", "--no-backup", RESOURCE,
                                              "new.img"]),
                               env=env, cwd=setup.folder, stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               start_new_session=True)
    wait_for_line(process, "Writing the firmware")
    os.killpg(process.pid, signal.SIGKILL)
    process.communicate()
    expect(os.path.exists(os.path.join(world_state, journal_name)), "no journal after the kill")
    with open(os.path.join(world_state, journal_name)) as f:
        journal = f.read()
    for field in ("pci=00:00.0", "ids=0000:0000:0000:1010", "flash=0x1010",
                  "installed-version=0x", "world=simulated "):
        expect(field in journal, "the journal does not record %r:\n%s" % (field, journal))
    # Stopped with --keep-state, the world leaves its state where asked, and
    # nothing of it in its own folder.
    kept = os.path.join(setup.folder, "kept")
    stop = subprocess.run([setup.args.launcher, "stop", "--keep-state", kept], env=env,
                          capture_output=True, text=True)
    expect(stop.returncode == 0, "zelsim stop --keep-state failed", stop)
    expect(os.path.exists(os.path.join(kept, "zelsmbus", journal_name)),
           "--keep-state did not keep the journal")
    expect(not os.path.exists(os.path.join(setup.folder, "runtime", "zelsim.state")),
           "the world's state outlived 'zelsim stop'")
    # A new world with the kept state: the journal is another world's, and is
    # set aside, not resumed; the update runs as a fresh one.
    setup.start()
    again = tool("firmware", "-y", "--no-backup", RESOURCE, "new.img",
                 environment=dict(env, ZELSIM_STATE_DIR=kept))
    expect(again.returncode == 0 and "written for another board or world (world" in again.stdout
           and "did not finish" not in again.stdout,
           "the journal of another world was not set aside", again)
    expect(os.path.exists(os.path.join(kept, "zelsmbus", journal_name + ".other")),
           "the other world's journal is not kept aside")
    # A journal of this world that names a board at another PCI location (a
    # copy put under this board's name): the run stops, and leaves it.
    world = re.search(r"world=([^;]*)", journal).group(1)
    identity = subprocess.run(setup.command(["-c", "echo $ZELSIM_WORLD_ID"], "sh"), env=env,
                              capture_output=True, text=True).stdout.strip()
    expect(identity and identity not in world, "the new world has the old world's identity")
    copied = resigned(journal, ("pci=00:00.0", "pci=05:00.0"), (world, "simulated " + identity))
    with open(os.path.join(kept, "zelsmbus", journal_name), "w") as f:
        f.write(copied)
    other = tool("firmware", "-y", "--force", "--no-backup", RESOURCE, "new.img",
                 environment=dict(env, ZELSIM_STATE_DIR=kept))
    expect(other.returncode == 1 and "names another board (PCI 05:00.0" in other.stderr
           and "Writing" not in other.stdout, "the journal of another board was used", other)
    with open(os.path.join(kept, "zelsmbus", journal_name)) as f:
        expect(f.read() == copied, "the journal of another board was changed")
    # Nothing ever reached the hardware's state folder.
    expect(not os.path.exists(hardware_state), "the simulated world wrote %s" % hardware_state)
    stop = subprocess.run([setup.args.launcher, "stop"], env=env, capture_output=True, text=True)


def versions_explained(setup):
    """The version the tool reports after an update and a restore, and the
    Version a firmware-read image carries: the image's own where the flash
    holds the bytes zelsmbus installed, the running one otherwise; on 0x1010
    the controller keeps running the old version until it is powered on."""
    address, offset, _ = DEVICES[setup.device]

    def read_version():
        run = setup.tool("firmware-read", "--pinout-addr", hex(address), RESOURCE, "read.img")
        expect(run.returncode == 0, "firmware-read failed", run)
        with open(os.path.join(setup.folder, "read.img"), "rb") as f:
            header = f.read().split(b"\r\n\r\n", 1)[0].decode()
        return int(re.search(r"^Version::(\d+)", header, re.M).group(1)), run.stdout

    def running():
        run = setup.tool("attr", RESOURCE, "firmware-version")
        expect(run.returncode == 0, "attr firmware-version failed", run)
        return int(run.stdout.split()[-1], 16)

    before = running()
    version, said = read_version()
    expect(version == before and "reports running" in said,
           "firmware-read of firmware zelsmbus did not install: Version %d, running %d"
           % (version, before), None)
    update = setup.tool("firmware", "-y", RESOURCE, "new.img")
    expect(update.returncode == 0 and "image version 0x00000002 is installed" in update.stdout
           and "next powered on; until then version 0x%08x keeps running" % before
           in update.stdout, "the update's report", update)
    expect(running() == before, "the running version changed before a power-on")
    version, said = read_version()
    expect(version == 2 and "the image zelsmbus installed" in said,
           "firmware-read after the update: Version %d\n%s" % (version, said))
    restore = setup.tool("firmware", "-y", "--restore", RESOURCE)
    expect(restore.returncode == 0 and "image version 0x%08x is installed" % before
           in restore.stdout, "the restore's report", restore)
    version, said = read_version()
    expect(version == before and "the image zelsmbus installed" in said,
           "firmware-read after the restore: Version %d\n%s" % (version, said))
    # Other bytes in the flash than those zelsmbus installed: the running version.
    setup.reset()
    update = setup.tool("firmware", "-y", "--no-backup", RESOURCE, "new.img")
    expect(update.returncode == 0, "update", update)
    setup.reset()
    version, said = read_version()
    expect(version == before and "reports running" in said,
           "firmware-read of other bytes: Version %d\n%s" % (version, said))


def backup_restore(setup):
    """The backup an update saves, --restore, and a firmware-read image written back."""
    update = setup.tool("firmware", "-y", RESOURCE, "new.img")
    expect(update.returncode == 0, "the update failed", update)
    backups = [p for p in setup.state_files() if p.endswith(".backup.img")]
    expect(len(backups) == 1 and "Saved the installed firmware" in update.stdout,
           "no backup in the state directory: %s" % setup.state_files(), update)
    expect(setup.installed() == setup.new, "the update did not install the new image")
    restore = setup.tool("firmware", "-y", "--restore", RESOURCE)
    expect(restore.returncode == 0, "--restore failed", restore)
    expect(setup.installed() == setup.old, "--restore did not bring the old firmware back")
    # firmware-read's image, written back with --force, gives the same bytes.
    setup.installed("saved.img")
    expect(setup.tool("firmware", "-y", RESOURCE, "new.img").returncode == 0, "update")
    back = setup.tool("firmware", "-y", "--force", "--no-backup", RESOURCE, "saved.img")
    expect(back.returncode == 0, "firmware --force of firmware-read's image failed", back)
    expect(setup.installed() == setup.old, "the image of firmware-read did not round-trip")
    # --backup FILE chooses the file.
    chosen = setup.tool("firmware", "-y", "--backup", "mine.img", RESOURCE, "new.img")
    expect(chosen.returncode == 0 and os.path.exists(os.path.join(setup.folder, "mine.img")),
           "--backup FILE", chosen)


def dry_run(setup):
    """--dry-run checks everything and writes nothing: no flash, no file."""
    run = setup.tool("firmware", "--dry-run", RESOURCE, "new.img")
    expect(run.returncode == 0 and "nothing was written" in run.stdout, "dry run", run)
    expect(setup.installed() == setup.old, "--dry-run changed the flash")
    expect(not setup.state_files(), "--dry-run wrote %s" % setup.state_files())
    # A check that fails still fails in a dry run.
    refused = setup.tool("firmware", "--dry-run", RESOURCE, "old.img")
    expect(refused.returncode == 1 and "not newer" in refused.stderr, "dry run refusal", refused)


def journal_resume(setup):
    """A journal left by an update cut short after the erase (the pin-out word
    inside the region reads erased): a journal that cannot be read stops the
    run; the journal's word is checked against the image and written back only
    once the user confirms; then the update completes. Journals of an older
    zelsmbus (named after the resource typed) are taken over when they name
    this board, and refused with a reason otherwise."""
    state = os.path.join(setup.folder, "state", "zelsmbus")
    os.makedirs(state)
    address = DEVICES["bf8e"][0]
    stem, board = setup.board()
    journal = os.path.join(state, stem + ".journal")
    image = os.path.join(setup.folder, "new.img")
    erased = b"\xff" * 4

    def body(word):
        return ("format=2\nboard=%s\nresource=%s\npinout-address=0x%x\npinout-word=0x%08x\n"
                "image=%s\nbackup=\nflags=\nstarted=2026-01-01 00:00:00\nphase=writing\n"
                % (board, RESOURCE, address, word, image))

    # Journals that cannot be read, and one whose word does not suit the image:
    # the run stops, says why, and writes nothing (not even the word).
    good = signed(body(0xffffff03))
    for text, said in (("", "it is empty"), ("garbage\n\x01\x02", "no check line"),
                       (good[:-12], "check line"), (good.replace("image=", "imagE="), "do not match"),
                       (signed(body(0xffffff05)), "does not suit the image")):
        with open(journal, "w") as f:
            f.write(text)
        run = setup.tool("firmware", "-y", RESOURCE, "new.img")
        expect(run.returncode == 1 and said in run.stderr, "journal %r" % text[:40], run)
        expect(setup.pin_out_bytes() == erased, "the refused run wrote the pin-out word")
        with open(journal) as f:
            expect(f.read() == text, "the refused run changed the journal")
    with open(journal, "w") as f:
        f.write(good)
    # Answered "n": nothing written.
    process = setup.spawn("firmware", RESOURCE, "new.img",
                          env=dict(setup.env, ZELSMBUS_INTERACTIVE="1"))
    out, err = process.communicate("n\n", timeout=600)
    expect(process.returncode == 1 and "nothing was written" in err and
           "once you confirm" in out, "answered n:\n%s%s" % (out, err))
    expect(setup.pin_out_bytes() == erased, "the word was written before the answer")
    without = setup.tool("firmware", "--dry-run", RESOURCE, "new.img")
    expect(without.returncode == 0 and "did not finish" in without.stdout and
           "would be written back" in without.stdout, "dry run of the resume", without)
    expect(setup.pin_out_bytes() == erased, "the dry run wrote the word")
    run = setup.tool("firmware", "-y", RESOURCE, "new.img")
    expect(run.returncode == 0, "the resumed update failed", run)
    # (The library read the whole region back: "updated and verified".)
    for text in ("did not finish", "stopped (killed, or the system lost power)",
                 "Writing the pin-out word back", "updated and verified"):
        expect(text in run.stdout, "the resumed update does not say %r" % text, run)
    expect(not setup.journals(), "the journal stays after the update")

    # An older zelsmbus's journal, named after the resource typed.
    legacy = os.path.join(state, "ZELSMBUS__SYSTEM__0__0.journal")
    old_body = ("resource=%s\nsubsystem=0xbf8e\nflash=0xbf8e\npinout-address=0x%x\n"
                "pinout-word=0xffffff03\nimage=%s\nbackup=\nstarted=2026-01-01 00:00:00\n"
                "phase=writing\n" % (RESOURCE, address, image))
    setup.reset()
    with open(legacy, "w") as f:
        f.write(old_body)  # no PCI location: it may be another board's
    refused = setup.tool("firmware", "-y", RESOURCE, "new.img")
    expect(refused.returncode == 1 and "older zelsmbus" in refused.stderr and
           "records no PCI location" in refused.stderr and os.path.exists(legacy),
           "an older journal that names no board", refused)
    with open(legacy, "w") as f:
        f.write("pci=00:00.0\nworld=simulated %s\n%s" % (setup.world_id(), old_body))
    taken = setup.tool("firmware", "-y", RESOURCE, "new.img")
    expect(taken.returncode == 0 and "Taking over the journal" in taken.stdout and
           "did not finish" in taken.stdout, "an older journal of this board", taken)
    expect(not os.path.exists(legacy) and not setup.journals(), "journals left behind")

    # With no journal, an erased word is refused with the code for it.
    setup.reset()
    refused = setup.tool("firmware", "-y", RESOURCE, "new.img")
    expect(refused.returncode == 1 and "-52030" in refused.stderr, "erased word", refused)


def journal_per_board(setup):
    """One journal per board, whatever name is typed for it; a second run for
    the board while one writes is turned away and leaves the first's journal;
    a refusal during recovery leaves the journal; recovery completes a cut
    forced downgrade without --force, since the board may already report the
    image's version."""
    # A second run while the first waits for its answer: told that another
    # zelsmbus works on the board, by its process number.
    waiting = setup.spawn("firmware", "--no-backup", RESOURCE, "new.img",
                          env=dict(setup.env, ZELSMBUS_INTERACTIVE="1"))
    wait_for_question(waiting)
    turned = setup.tool("firmware", "-y", "--no-backup", RESOURCE, "new.img")
    waiting.communicate("n\n", timeout=600)
    expect(turned.returncode == 1 and "(process %d) is at work on this board" % waiting.pid
           in turned.stderr,
           "a second run beside one that waits for its answer", turned)
    # A second update while the first writes: told who is at work; the
    # first's journal stays, and completes its update after a kill.
    first = setup.spawn("firmware", "-y", "--no-backup", RESOURCE, "new.img")
    wait_for_line(first, "Writing the firmware")
    second = setup.tool("firmware", "-y", "--no-backup", RESOURCE, "new.img")
    try:
        os.killpg(first.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass  # it has ended already
    first_rest, _ = first.communicate()
    # A small image may be written before the second starts: then the
    # second finds the board free and updates it itself.
    first_done = "updated and verified" in (first_rest or "")
    turned_away = (second.returncode == 1 and "did not finish" not in second.stdout and
                   ("is at work on this board" in second.stderr or "-52031" in second.stderr))
    expect(turned_away or (first_done and second.returncode == 0), "the second update", second)
    if not os.path.exists(setup.journal_file()):
        # The journal goes only with a finished update (the first may have
        # finished while the second was turned away); then a cut one follows.
        expect(setup.installed() == setup.new, "the second update removed the first's journal")
        setup.kill_during_write("firmware", "-y", "--no-backup", RESOURCE, "new.img")
    with open(setup.journal_file()) as f:
        cut = f.read()
    # Refused during recovery (another program holds the flash once the
    # question is answered): the journal stays as it was.
    recovery = setup.spawn("firmware", RESOURCE, "new.img",
                           env=dict(setup.env, ZELSMBUS_INTERACTIVE="1"))
    wait_for_question(recovery)
    holder = setup.spawn(RESOURCE, program=setup.args.lock_holder)
    try:
        expect(holder.stdout.readline().strip() == "locked", "the lock holder did not lock")
        out, err = recovery.communicate("y\n", timeout=600)
    finally:
        holder.stdin.close()
        holder.wait(timeout=60)
    expect(recovery.returncode == 1 and "-52031" in err and "stays" in err,
           "recovery while another program holds the flash:\n%s%s" % (out, err))
    expect(os.path.exists(setup.journal_file()), "the refused recovery removed the journal")
    with open(setup.journal_file()) as f:
        expect(f.read() == cut, "the refused recovery changed the journal")
    # The same board by another name (lower case) finds the journal.
    again = setup.tool("firmware", "-y", "--no-backup", RESOURCE.lower(), "new.img")
    expect(again.returncode == 0 and "did not finish" in again.stdout,
           "recovery under another name of the controller", again)
    expect(not setup.journals(), "a journal is left behind")

    # A forced downgrade cut short: its repeat without --force completes
    # (the board reports the image's version or a newer one), and the
    # hint of a failed one keeps --force.
    setup.reset()
    setup.kill_during_write("firmware", "-y", "--force", "--no-backup", RESOURCE, "old.img")
    repeat = setup.tool("firmware", "-y", RESOURCE, "old.img")
    expect(repeat.returncode == 0 and "did not finish" in repeat.stdout,
           "the cut forced downgrade did not complete", repeat)
    expect(setup.installed() == setup.old, "the downgrade is not installed")


def failure_reported(setup):
    """An update that fails after the erase while the state folder cannot be
    written (a full disk): the failure's code and the advice not to restart
    still reach the user, with the flags the repeat needs; the journal
    written before the erase completes it."""
    state = os.path.join(setup.folder, "state", "zelsmbus")
    process = setup.spawn("firmware", "-y", "--force", "--no-backup", RESOURCE, "new.img")
    wait_for_line(process, "Writing the firmware")
    os.rename(state, state + ".away")
    with open(state, "w") as f:
        f.write("no folder: nothing can be written here")
    fault = subprocess.run([setup.args.launcher, "fault", "errno", "writeRegister", "5", "1"],
                           env=setup.env, capture_output=True, text=True)
    out, err = process.communicate(timeout=600)
    os.remove(state)
    os.rename(state + ".away", state)
    expect(fault.returncode == 0, "zelsim fault failed", fault)
    expect(process.returncode == 1, "the update did not fail:\n%s%s" % (out, err))
    for text in ("failed", "-52024", "do not restart the board",
                 "zelsmbus firmware --force %s new.img" % RESOURCE):
        expect(text in err, "the report lacks %r:\n%s" % (text, err))
    again = setup.tool("firmware", "-y", "--force", RESOURCE, "new.img")
    expect(again.returncode == 0 and "did not finish" in again.stdout, "the repeat", again)
    expect(setup.installed() == setup.new, "the repeat did not install the image")


def backups_kept(setup):
    """A backup names its board and bytes; none is replaced without keeping it
    as .previous; --restore writes only a sound backup of this board that is
    what the journal says; an output that is a link or a device node stays
    what it is."""
    update = setup.tool("firmware", "-y", RESOURCE, "new.img")
    expect(update.returncode == 0, "update", update)
    backup, = setup.backups()
    with open(backup, "rb") as f:
        first = f.read()
    expect(("\r\nBoard::%s\r\n" % setup.board()[1]).encode() in first,
           "the backup does not name its board")
    # The same image again: the flash holds it already; the backup stays.
    same = setup.tool("firmware", "-y", "--force", RESOURCE, "new.img")
    expect(same.returncode == 0 and "no backup is taken" in same.stdout, "same image", same)
    with open(backup, "rb") as f:
        expect(f.read() == first, "the backup was replaced by the image itself")
    # Another image: the earlier backup is kept as .previous.
    down = setup.tool("firmware", "-y", "--force", RESOURCE, "old.img")
    expect(down.returncode == 0 and "kept as" in down.stdout, "downgrade", down)
    with open(backup + ".previous", "rb") as f:
        expect(f.read() == first, "the earlier backup was not kept")

    # --restore refuses a backup of another board, a damaged one, and one
    # that is not what the unfinished update's journal recorded.
    with open(backup, "rb") as f:
        current = f.read()
    refusals = (
        (current.replace(b"pci=00:00.0", b"pci=05:00.0"), "saved from another board"),
        (current.replace(b"\r\nBoard::", b"\r\nBoarD::"), "does not record the board"),
        (current[:-40] + bytes(reversed(current[-40:-2])) + b"\r\n", "not a sound firmware image"),
    )
    for text, said in refusals:
        with open(backup, "wb") as f:
            f.write(text)
        run = setup.tool("firmware", "-y", "--restore", RESOURCE)
        expect(run.returncode == 1 and said in run.stderr, "--restore of %s" % said, run)
    with open(backup, "wb") as f:
        f.write(current)
    setup.kill_during_write("firmware", "-y", RESOURCE, "new.img")  # backup: the old firmware
    with open(backup, "rb") as f:
        taken = f.read()
    with open(backup, "wb") as f:
        f.write(current)  # a backup of this board, but not the one taken then
    stale = setup.tool("firmware", "-y", "--restore", RESOURCE)
    expect(stale.returncode == 1 and "not the backup taken before" in stale.stderr,
           "a swapped backup was restored", stale)
    with open(backup, "wb") as f:
        f.write(taken)
    restored = setup.tool("firmware", "-y", "--restore", RESOURCE)
    expect(restored.returncode == 0 and "did not finish" in restored.stdout, "--restore", restored)
    expect(setup.installed() == setup.old, "--restore did not bring the old firmware back")
    # A cut --no-backup update took no backup: --restore says so, and does not
    # fall back on an older one.
    setup.kill_during_write("firmware", "-y", "--no-backup", RESOURCE, "new.img")
    nothing = setup.tool("firmware", "-y", "--restore", RESOURCE)
    expect(nothing.returncode == 1 and "took no backup" in nothing.stderr,
           "--restore after a --no-backup update", nothing)
    again = setup.tool("firmware", "-y", RESOURCE, "new.img")
    expect(again.returncode == 0, "completing the --no-backup update", again)

    # Outputs that are links or device nodes: a link stays a link (the file it
    # names is written), a device node is refused as a backup and written in
    # place by firmware-read.
    target = os.path.join(setup.folder, "target.img")
    with open(target, "w") as f:
        f.write("an earlier file")
    link = os.path.join(setup.folder, "link.img")
    os.symlink(target, link)
    linked = setup.tool("firmware", "-y", "--force", "--backup", link, RESOURCE, "old.img")
    expect(linked.returncode == 0 and os.path.islink(link), "--backup through a link", linked)
    with open(target, "rb") as f:
        expect(b"\r\nBoard::" in f.read(), "the link's file does not hold the backup")
    expect(os.path.exists(target + ".previous"), "the link's earlier file was not kept")
    node = os.path.join(setup.folder, "null")
    try:
        os.mknod(node, 0o666 | stat.S_IFCHR, os.makedev(1, 3))
    except PermissionError:
        node = "/dev/null"  # as a user: the rename over it would fail anyway
    refused = setup.tool("firmware", "-y", "--force", "--backup", node, RESOURCE, "new.img")
    expect(refused.returncode == 1 and "would not be a file" in refused.stderr,
           "--backup to a device node", refused)
    written = setup.tool("firmware-read", "--pinout-addr", hex(setup.address), RESOURCE, node)
    expect(written.returncode == 0, "firmware-read to a device node", written)
    expect(stat.S_ISCHR(os.stat(node).st_mode), "the device node was replaced")


def unverified_region_not_saved(setup):
    """A region an update left half written, with its journal gone, is never
    saved as a backup: 0xBF8E's trailer tells it is not firmware that verified."""
    # An earlier backup of the board (any file: it must only stay as it is).
    backup = os.path.join(setup.folder, "state", "zelsmbus", setup.board()[0] + ".backup.img")
    os.makedirs(os.path.dirname(backup))
    with open(os.path.join(setup.folder, "old.img"), "rb") as f:
        kept = f.read()
    with open(backup, "wb") as f:
        f.write(kept)
    setup.kill_during_write("firmware", "-y", "--force", "--no-backup", RESOURCE, "old.img")
    os.remove(setup.journal_file())
    run = setup.tool("firmware", "-y", RESOURCE, "new.img")
    expect(run.returncode == 1 and "not firmware that verified whole" in run.stderr,
           "a half-written region was saved as a backup", run)
    with open(backup, "rb") as f:
        expect(f.read() == kept, "the backup changed")
    done = setup.tool("firmware", "-y", "--no-backup", RESOURCE, "new.img")
    expect(done.returncode == 0, "the update without a backup", done)


# Power cuts per device: whether the run after it restores the backup taken
# before the update (else it completes the update). 0xBF8E's region is read
# through the register attributes eight times as slowly as 0x1010's: one
# completion, its backup not taken, the library's verification trusted.
POWER_CUTS = {"1010": (False, True), "bf8e": (False,)}


def power_cut_sweep(setup):
    """The power fails during the write (the world restarts from the flash it
    holds): the same command completes the update, or --restore writes the
    backup taken before it back, both verified."""
    small = setup.device == "1010"
    for restore in POWER_CUTS[setup.device]:
        setup.kill_during_write("firmware", "-y", "--force", *([] if small else ["--no-backup"]),
                                RESOURCE, "new.img")
        setup.power_cut()
        if restore:
            run = setup.tool("firmware", "-y", "--restore", RESOURCE)
        else:
            run = setup.tool("firmware", "-y", RESOURCE, "new.img")
        expect(run.returncode == 0 and "did not finish" in run.stdout and
               "updated and verified" in run.stdout, "after the power cut", run)
        if small:
            expect(setup.installed() == (setup.old if restore else setup.new),
                   "after the power cut the flash holds neither image")
        expect(not setup.journals(), "a journal is left behind")
        if not restore and small:
            back = setup.tool("firmware", "-y", "--force", "--no-backup", RESOURCE, "old.img")
            expect(back.returncode == 0, "back to the old firmware", back)


def signals_held(setup):
    """SIGINT, SIGQUIT (Ctrl-\\) and SIGTSTP (Ctrl-Z) during the write: the
    update goes on, says so, and the tool exits with the update's result."""
    process = setup.spawn("firmware", "-y", "--no-backup", RESOURCE, "new.img")
    wait_for_line(process, "Writing the firmware")
    for held in (signal.SIGINT, signal.SIGQUIT, signal.SIGTSTP):
        time.sleep(0.1)
        os.killpg(process.pid, held)
    out, err = process.communicate(timeout=600)
    expect(process.returncode == 0, "a signal ended the update (exit %s):\n%s%s"
           % (process.returncode, out, err))
    expect(err.count("the firmware update continues") == 3,
           "not every signal was held:\n" + err)
    expect("the firmware update continues" in err and "held until the update ended" in err,
           "no word about the held signal:\n" + err)
    expect("updated and verified" in out, "no success message:\n" + out)
    expect(setup.installed() == setup.new, "the update after SIGINT is not installed")


def flash_lock_held(setup):
    """While another program holds the controller's flash writer lock, the
    tool's own flash reads (firmware-read, the pin-out word read before the
    question, the backup) wait and then answer busy, saying who holds the
    flash and what to do; the library's own flash procedures honour the same
    lock. Once it is free, they go through."""
    holder = setup.spawn(RESOURCE, program=setup.args.lock_holder)
    try:
        if holder.stdout.readline().strip() != "locked":
            raise Failure("the lock holder did not take the lock: " + holder.stderr.read())
        address, offset, _ = DEVICES[setup.device]
        for command in (("firmware-read", "--pinout-addr", hex(address), RESOURCE, "read.img"),
                        ("firmware", "--dry-run", RESOURCE, "new.img")):
            began = time.monotonic()
            run = setup.tool(*command)
            expect(run.returncode == 1 and "-52031" in run.stderr and
                   "another program is writing" in run.stderr and
                   "wait until it is done" in run.stderr,
                   "%s while the flash writer lock is held elsewhere" % command[0], run)
            expect(time.monotonic() - began >= 1.5, "%s did not wait for the lock" % command[0])
        flag = setup.tool("attr", RESOURCE, "config-flag")
        expect(flag.returncode == 1 and "-52031" in flag.stderr and
               "another program is writing the controller's flash" in flag.stderr,
               "the library's read of config-flag does not honour the tool's lock", flag)
    finally:
        holder.stdin.close()
        holder.wait(timeout=60)
    expect(setup.installed() == setup.old, "firmware-read after the lock was let go")


def two_writers(setup):
    """`zelsmbus firmware` beside `zelsmbus attr ... config-flag 1` on one
    controller, as processes started together: whatever each answers, never
    a success over damaged contents, and a repeat of a refused one completes."""
    block2 = (0x10000, 0x8000)
    flag_word = 8179 * 4
    old_block = setup.flash(*block2)
    for _ in range(2):
        setup.reset()
        update = setup.spawn("firmware", "-y", "--no-backup", RESOURCE, "new.img")
        flag = setup.spawn("attr", "-y", RESOURCE, "config-flag", "1")
        update_out, update_err = update.communicate(timeout=600)
        flag_out, flag_err = flag.communicate(timeout=600)
        region = setup.installed()
        if update.returncode == 0:
            expect(region == setup.new, "the update succeeded over a damaged region:\n%s%s"
                   % (update_out, update_err))
        else:
            expect("-52031" in update_err, "the update failed otherwise than busy:\n"
                   + update_err)
            expect(region == setup.old, "a refused update changed the region")
        block = setup.flash(*block2)
        if flag.returncode == 0:
            expect(block[:flag_word] == old_block[:flag_word] and
                   block[flag_word + 4:] == old_block[flag_word + 4:],
                   "config-flag succeeded over a damaged block 2:\n%s%s" % (flag_out, flag_err))
            expect(block[flag_word:flag_word + 4] == bytes([0, 0x20, 0x01, 0x03]),
                   "config-flag succeeded but the flag word is %s"
                   % block[flag_word:flag_word + 4].hex())
        else:
            expect("-52031" in flag_err, "config-flag failed otherwise than busy:\n" + flag_err)
            expect(block == old_block, "a refused config-flag changed block 2")
    # What was refused goes through once the other is done.
    again = setup.tool("attr", "-y", RESOURCE, "config-flag", "1")
    expect(again.returncode == 0, "config-flag after the update", again)


def dry_run_reads_only(setup):
    """A dry run, with its backup reading, and one that finds a journal sends
    the 0xBF8E flash nothing but identification and reads (its status
    register, which holds the protection, is never written)."""
    def instructions_sent(name):
        trace = os.path.join(setup.folder, name)
        run = subprocess.run([setup.args.launcher, "record", "-o", trace, "--",
                              setup.args.tool, "firmware", "--dry-run", RESOURCE, "new.img"],
                             env=setup.env, cwd=setup.folder, capture_output=True, text=True,
                             timeout=600)
        expect(run.returncode == 0 and "nothing was written" in run.stdout, "the dry run", run)
        sent = set()
        with open(trace) as f:
            for line in f:
                record = json.loads(line)
                if record.get("name") != "writeRegister":
                    continue
                data = bytes.fromhex(record["in"])
                offset = int.from_bytes(data[4:8], "little")
                value = int.from_bytes(data[8:12], "little")
                if offset == 0x40 and value != 0:
                    sent.add(value >> 24)
        return run, sent

    run, sent = instructions_sent("backup.jsonl")
    expect("would be saved" in run.stdout, "the dry run read no backup", run)
    expect(sent and sent <= {0x03, 0xAB}, "the dry run sent the flash instructions %s"
           % sorted(hex(op) for op in sent))
    setup.kill_during_write("firmware", "-y", "--no-backup", RESOURCE, "new.img")
    run, sent = instructions_sent("journal.jsonl")
    expect("did not finish" in run.stdout, "the dry run found no journal", run)
    expect(sent <= {0x03, 0xAB}, "the dry run after a kill sent the flash instructions %s"
           % sorted(hex(op) for op in sent))


# Each case: its flash device, whether the pin-out word inside the region
# starts erased, the case itself, and where the pin-out word lies when not
# where DEVICES says.
CASES = {
    "kill_sweep_1010": ("1010", False, kill_sweep),
    "kill_sweep_bf8e": ("bf8e", False, kill_sweep),
    "kill_sweep_9d17": ("9d17", False, kill_sweep),
    "simulated_state_apart": ("1010", False, simulated_state_apart),
    "versions_explained": ("1010", False, versions_explained),
    "backup_restore": ("1010", False, backup_restore),
    "dry_run": ("1010", False, dry_run),
    "journal_resume": ("bf8e", True, journal_resume),
    "signals_held": ("bf8e", False, signals_held),
    "flash_lock_held": ("1010", False, flash_lock_held),
    "two_writers": ("1010", False, two_writers),
    "journal_per_board": ("1010", False, journal_per_board),
    "failure_reported": ("1010", False, failure_reported),
    "backups_kept": ("1010", False, backups_kept),
    "unverified_region_not_saved": ("bf8e", False, unverified_region_not_saved, 0x100),
    "power_cut_sweep_1010": ("1010", False, power_cut_sweep),
    "power_cut_sweep_bf8e": ("bf8e", False, power_cut_sweep),
    "dry_run_reads_only": ("bf8e", False, dry_run_reads_only),
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--case")
    parser.add_argument("--launcher")
    parser.add_argument("--tool")
    parser.add_argument("--mkimage")
    parser.add_argument("--lock-holder")
    args = parser.parse_args()
    if args.list:
        print("\n".join(CASES))
        return 0
    for name in ("launcher", "tool", "mkimage", "lock_holder"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    device, pin_out_erased, case, *pin_out_address = CASES[args.case]
    with tempfile.TemporaryDirectory(prefix="zelsmbus-recovery-") as folder:
        setup = Setup(args, folder, device, pin_out_erased, *pin_out_address)
        setup.start()
        try:
            case(setup)
        except Failure as failure:
            print("FAILED: %s" % failure)
            return 1
        finally:
            setup.stop()
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
