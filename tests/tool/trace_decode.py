#!/usr/bin/python3
"""zelsmbus trace against traces of a known program.

  trace_decode.py --fixture F --tool T

The fixture program (traceFixture.cpp) runs every SMBus and I2C transaction,
one that no device acknowledges, a bus lock (and a second session refused
under it) and a small flash update against the simulator, and writes its
command log as a trace. The decoded operations must be what the program did,
with the simulated devices' answers; the flash steps must be phases, --raw
every request; broken traces must be refused with their line number.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


def crc8(data):
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = ((crc << 1) ^ 0x07) & 0xFF if crc & 0x80 else (crc << 1) & 0xFF
    return crc


def run(tool, *arguments):
    return subprocess.run([tool] + list(arguments), capture_output=True, text=True, timeout=60)


# (kind, address, command, fields the object must hold): in the program's order.
TRANSACTIONS = [
    ("quick write", 0x48, None, {}),
    ("quick read", 0x48, None, {}),
    ("send byte", 0x48, None, {"written": [0x02]}),
    ("receive byte", 0x48, None, {"read": [0x4B]}),
    ("write byte data", 0x48, 0x03, {"written": [0x51]}),
    ("read byte data", 0x48, 0x01, {"read": [0x80],
                                     "pec": {"expected": crc8([0x90, 0x01, 0x91, 0x80]),
                                             "correct": True}}),
    ("write word data", 0x48, 0x04, {"written": [0x34, 0x12]}),
    ("read word data", 0x48, 0x00, {"read": [0x19, 0x80]}),
    ("process call", 0x48, 0x05, {"written": [0xFF, 0x00], "read": [0x00, 0xFF]}),
    ("block write", 0x48, 0x20, {"written": [0xA1, 0xA2, 0xA3], "count": 3,
                                 "pec": {"sent": crc8([0x90, 0x20, 3, 0xA1, 0xA2, 0xA3]),
                                         "correct": True}}),
    ("block read", 0x48, 0x10, {"count": 3, "read": [1, 2, 3]}),
    ("block process call", 0x48, 0x06, {"written": [0xA1, 0xA2, 0xA3], "count": 3,
                                        "read": [0xA3, 0xA2, 0xA1]}),
    ("I2C block write", 0x50, 0x40, {"length": 3, "written": [0xA1, 0xA2, 0xA3]}),
    ("I2C block read", 0x50, 0x40, {"length": 4, "read": [0xA1, 0xA2, 0xA3, 0x43]}),
    ("I2C EEPROM read", 0x50, None, {"offset": 0x10, "length": 8,
                                     "read": list(range(0x10, 0x18))}),
    ("read byte data", 0x33, 0x00, {"status": {"code": -52024, "name": "ZELSMBUS_ERROR_IO"}}),
]


def check_operations(tool, trace, records):
    decoded = run(tool, "trace", "--json", trace)
    expect(decoded.returncode == 0, "trace --json failed:\n" + decoded.stderr)
    objects = [json.loads(line) for line in decoded.stdout.splitlines()]
    transactions = [o for o in objects if o["kind"] in {t[0] for t in TRANSACTIONS}]
    expect(len(transactions) >= len(TRANSACTIONS) + 1, "transactions missing: %s" % transactions)
    for (kind, address, command, fields), got in zip(TRANSACTIONS, transactions):
        where = "%s at 0x%02x: %s" % (kind, address, got)
        expect(got["kind"] == kind and got["address"] == address, "wrong operation " + where)
        expect(got.get("command") == command, "wrong command " + where)
        for key, value in fields.items():
            expect(got.get(key) == value, "%s should be %s: %s" % (key, value, where))
        if "status" not in fields:
            expect(got["status"]["name"] == "ZELSMBUS_SUCCESS", "not a success: " + where)
    # The lock: its holder on the read under it, the second session refused.
    locks = [o for o in objects if o["kind"] in ("lock bus", "unlock bus")]
    expect([o["status"]["name"] for o in locks] ==
           ["ZELSMBUS_SUCCESS", "ZELSMBUS_ERROR_BUSY", "ZELSMBUS_SUCCESS"], "lock sequence: %s" % locks)
    under = transactions[len(TRANSACTIONS)]
    expect(under["command"] == 0x02 and under.get("lock_owner", "").startswith("pid "),
           "the read under the lock shows no holder: %s" % under)
    expect("lock_owner" not in transactions[0], "a holder before any lock: %s" % transactions[0])
    # The flash update as its steps, not as its register requests.
    phases = [o for o in objects if o["kind"] == "flash"]
    names = [p["phase"] for p in phases]
    expect("identify" in names, "no identify phase: %s" % names)
    erase = [p for p in phases if p["phase"] == "erase block"]
    expect(len(erase) == 1 and erase[0]["unit"] == 3 and erase[0]["first_address"] == 0x18000,
           "erase of block 3 not shown: %s" % erase)
    program = [p for p in phases if p["phase"] == "program page"]
    expect(len(program) == 1 and program[0]["unit"] == 0x180 and
           program[0]["last_address"] == 0x18100, "the two pages not shown: %s" % program)
    verify = [p for p in phases if p["phase"] == "read/verify"]
    expect(len(verify) == 1 and verify[0]["first_address"] == 0x18000 and
           verify[0]["last_address"] == 0x181FC, "the read back not shown: %s" % verify)
    expect(names[-1] == "activation (boot header)", "no activation: %s" % names)
    expect(names.index("erase block") < names.index("program page") < names.index("read/verify"),
           "phases out of order: %s" % names)
    expect(sum(p["requests"] for p in phases) > 10 * len(phases), "phases hold too few requests")
    # Every request is in exactly one line or phase.
    covered = sum(o.get("requests", 1) for o in objects)
    expect(covered == records, "%d requests decoded of %d" % (covered, records))
    # --raw: every request on its own, flash registers too.
    raw = run(tool, "trace", "--json", "--raw", trace)
    lines = [json.loads(line) for line in raw.stdout.splitlines()]
    expect(raw.returncode == 0 and len(lines) == records and
           not any(o["kind"] == "flash" for o in lines), "--raw is not one object per request")
    expect(any(o["kind"] == "write register" and o["register"] == 64 for o in lines),
           "--raw hides the flash registers")
    # The text form says the same: one line per object, after the header line.
    text = run(tool, "trace", trace)
    expect(text.returncode == 0 and len(text.stdout.splitlines()) == len(objects) + 1,
           "text and JSON disagree")
    expect("flash erase block 3" in text.stdout and "ZELSMBUS_ERROR_IO" in text.stdout and
           "program pages 384-385" in text.stdout, "text form:\n" + text.stdout[-2000:])


HEADER = {"format": "zelsim-trace", "version": 1, "source": "simulator", "program": ["p"],
          "started": "2026-01-01T00:00:00Z"}


def broken_traces(record):
    """(name, lines, line number named in the error, words of the error)."""
    def with_(**changes):
        r = dict(record)
        for key, value in changes.items():
            if value is None:
                r.pop(key)
            else:
                r[key] = value
        return json.dumps(r)

    header = json.dumps(HEADER)
    good = json.dumps(record)
    later = dict(record, seq=record["seq"] + 1)
    return [
        ("empty", [], 1, "empty"),
        ("not a trace", ['{"format":"other","version":1}'], 1, "zelsim-trace"),
        ("version 2", [json.dumps(dict(HEADER, version=2))], 1, "version 2"),
        ("header not JSON", ["format=zelsim-trace"], 1, "value expected"),
        ("bad hex", [header, good, with_(seq=record["seq"] + 1, **{"in": "0G"})], 3, "hexadecimal"),
        ("upper-case hex", [header, with_(out="0A000000")], 2, "lower-case"),
        ("odd hex", [header, with_(out="0")], 2, "pairs"),
        ("missing key", [header, with_(status=None)], 2, '"status" missing'),
        ("wrong type", [header, with_(errno="5")], 2, '"errno" has the wrong type'),
        ("command not the request's", [header, with_(command=1)], 2, "low byte"),
        ("seq going back", [header, json.dumps(later), good], 3, "does not follow"),
        ("cut short", [header, good[:-5]], 2, ""),
        ("blank line", [header, good, "", json.dumps(later)], 3, "empty line"),
        ("two objects", [header, good + good], 2, "text after"),
        ("key twice", [header, good[:-1] + ',"seq":9}'], 2, '"seq" given twice'),
        ("failed with output", [header, with_(errno=5)], 2, "failed request"),
    ]


def check_strict(tool, folder, trace):
    with open(trace) as f:
        lines = f.read().splitlines()
    # Unknown keys are ignored, in the header (the fixture writes one) and a record.
    extra = json.loads(lines[1])
    extra["future"] = {"x": [1, 2]}
    path = os.path.join(folder, "extra.jsonl")
    with open(path, "w") as f:
        f.write("\n".join([lines[0], json.dumps(extra)]) + "\n")
    ok = run(tool, "trace", path)
    expect(ok.returncode == 0, "an unknown key was refused:\n" + ok.stderr)
    record = json.loads(lines[1])
    for name, content, line, words in broken_traces(record):
        path = os.path.join(folder, "broken.jsonl")
        with open(path, "w") as f:
            f.write("".join(l + "\n" for l in content))
        result = run(tool, "trace", path)
        expect(result.returncode == 1, "%s: exit %d, not 1" % (name, result.returncode))
        expect(("line %d:" % line) in result.stderr and words in result.stderr,
               "%s: the error does not name line %d (%s):\n%s" % (name, line, words, result.stderr))
        expect(result.stdout == "", "%s: output before the error" % name)
    missing = run(tool, "trace", os.path.join(folder, "none.jsonl"))
    expect(missing.returncode == 1 and "No such file" in missing.stderr, "a missing file")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--fixture", required=True)
    parser.add_argument("--tool", required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        trace = os.path.join(folder, "trace.jsonl")
        with open(trace, "w") as out:
            made = subprocess.run([args.fixture], stdout=out, stderr=subprocess.PIPE, text=True,
                                  timeout=120)
        try:
            expect(made.returncode == 0, "the fixture failed: " + made.stderr)
            with open(trace) as f:
                records = len(f.read().splitlines()) - 1
            check_operations(args.tool, trace, records)
            check_strict(args.tool, folder, trace)
        except Failure as failure:
            print("FAIL: %s" % failure, file=sys.stderr)
            return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
