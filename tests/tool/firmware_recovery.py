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
import os
import random
import re
import signal
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


def payload(device, seed, size=None):
    address, offset, default_size = DEVICES[device]
    rng = random.Random(seed)
    data = bytearray(rng.getrandbits(8) for _ in range(size or default_size))
    data[-1] = 0x5A  # a firmware-read trims trailing 0xFF: keep the end visible
    base = {"1010": 0, "bf8e": offset, "9d17": 0x300000}[device]
    if base <= address < base + len(data):
        data[address - base] = 3
    return bytes(data)


class Setup:
    def __init__(self, args, folder, device, pin_out_erased=False):
        self.args, self.folder, self.device = args, folder, device
        self.env = dict(os.environ)
        # The world's state kept in a folder of the case's own; the state
        # folder of the hardware must stay empty.
        self.env["ZELSIM_STATE_DIR"] = os.path.join(folder, "state")
        self.env["XDG_STATE_HOME"] = os.path.join(folder, "hardware-state")
        self.env["ZELSIM_RUNTIME_DIR"] = os.path.join(folder, "runtime")
        self.env.pop("ZELSMBUS_INTERACTIVE", None)
        self.old = payload(device, 1)
        self.new = payload(device, 2)
        address = DEVICES[device][0]
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
        address, offset, _ = DEVICES[self.device]
        with open(os.path.join(self.folder, name + ".bin"), "wb") as f:
            f.write(data)
        subprocess.run([self.args.mkimage, os.path.join(self.folder, name + ".bin"),
                        "-o", os.path.join(self.folder, name), "--subsystem-id", "0x" + self.device,
                        "--pinout-addr", hex(address), "--pinout-ver", "3",
                        "--firmware-version", str(version), "--offset", hex(offset)],
                       check=True, capture_output=True)

    def start(self):
        run = subprocess.run([self.args.launcher, "start", "--world",
                              os.path.join(self.folder, "world.toml")],
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

    def spawn(self, *arguments, program=None):
        # A process group of its own: the signal reaches the tool under the launcher.
        return subprocess.Popen(self.command(list(arguments), program), env=self.env,
                                cwd=self.folder, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True, start_new_session=True)

    def installed(self, name="read.img"):
        """The firmware bytes firmware-read gives back, trailing 0xFF trimmed."""
        address, offset, _ = DEVICES[self.device]
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


def wait_for_line(process, text):
    """Reads the tool's output up to the line that holds text."""
    seen = ""
    for line in process.stdout:
        seen += line
        if text in line:
            return seen
    raise Failure("the tool ended before %r:\n%s%s" % (text, seen, process.stderr.read()))


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
    journal_name = "ZELSMBUS__SYSTEM__0__0.journal"

    def tool(*arguments, environment=env):
        return subprocess.run(setup.command(list(arguments)), env=environment, cwd=setup.folder,
                              capture_output=True, text=True, timeout=600)

    update = tool("firmware", "-y", RESOURCE, "new.img")
    expect(update.returncode == 0 and world_state in update.stdout,
           "the backup is not saved in the world's folder", update)
    expect(os.path.exists(os.path.join(world_state, "ZELSMBUS__SYSTEM__0__0.backup.img")),
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
    for field in ("pci=00:00.0", "subsystem=0x1010", "flash=0x1010",
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
    # A journal of this world for a board at another PCI location: set aside too.
    world = re.search(r"world=(.*)", journal).group(1)
    identity = subprocess.run(setup.command(["-c", "echo $ZELSIM_WORLD_ID"], "sh"), env=env,
                              capture_output=True, text=True).stdout.strip()
    expect(identity and identity not in world, "the new world has the old world's identity")
    with open(os.path.join(kept, "zelsmbus", journal_name), "w") as f:
        f.write(journal.replace("pci=00:00.0", "pci=05:00.0").replace(world, "simulated " +
                                                                       identity))
    other = tool("firmware", "-y", "--force", "--no-backup", RESOURCE, "new.img",
                 environment=dict(env, ZELSIM_STATE_DIR=kept))
    expect(other.returncode == 0 and "PCI location 05:00.0 there, 00:00.0 here" in other.stdout,
           "the journal of another board was not set aside", other)
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
    inside the region reads erased): the next run says so, puts the word back
    from the journal and completes."""
    state = os.path.join(setup.folder, "state", "zelsmbus")
    os.makedirs(state)
    address = DEVICES["bf8e"][0]
    with open(os.path.join(state, "ZELSMBUS__SYSTEM__0__0.journal"), "w") as f:
        f.write("resource=%s\nsubsystem=0xbf8e\nflash=0xbf8e\npinout-address=0x%x\n"
                "pinout-word=0xffffff03\nimage=%s\nbackup=\nstarted=2026-01-01 00:00:00\n"
                "phase=writing\n" % (RESOURCE, address, os.path.join(setup.folder, "new.img")))
    without = setup.tool("firmware", "--dry-run", RESOURCE, "new.img")
    expect(without.returncode == 0 and "did not finish" in without.stdout and
           "would be written back" in without.stdout, "dry run of the resume", without)
    run = setup.tool("firmware", "-y", RESOURCE, "new.img")
    expect(run.returncode == 0, "the resumed update failed", run)
    for text in ("did not finish", "stopped (killed, or the system lost power)",
                 "writing it back", "updated and verified"):
        expect(text in run.stdout, "the resumed update does not say %r" % text, run)
    expect(setup.installed() == setup.new, "the resumed update did not install the image")
    expect(not setup.journals(), "the journal stays after the update")
    # With no journal, an erased word is refused with the code for it.
    setup.reset()
    refused = setup.tool("firmware", "-y", RESOURCE, "new.img")
    expect(refused.returncode == 1 and "-52030" in refused.stderr, "erased word", refused)


def signals_held(setup):
    """SIGINT during the write: the update goes on, says so, and the tool exits
    with the update's result."""
    process = setup.spawn("firmware", "-y", "--no-backup", RESOURCE, "new.img")
    wait_for_line(process, "Writing the firmware")
    time.sleep(0.3)
    os.killpg(process.pid, signal.SIGINT)
    out, err = process.communicate(timeout=600)
    expect(process.returncode == 0, "SIGINT ended the update (exit %s):\n%s%s"
           % (process.returncode, out, err))
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
        expect(flag.returncode == 1 and "-52031" in flag.stderr,
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


# Each case: its flash device, whether the pin-out word inside the region
# starts erased, and the case itself.
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
    device, pin_out_erased, case = CASES[args.case]
    with tempfile.TemporaryDirectory(prefix="zelsmbus-recovery-") as folder:
        setup = Setup(args, folder, device, pin_out_erased)
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
