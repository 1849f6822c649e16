"""The replay helpers as a user's suite uses them: record a tool's dump, replay
it through the zelsim_replay fixture, and see a divergence fail with the
decoded report."""

from __future__ import annotations

import os
from pathlib import Path

import pytest

from zelsmbus.replay import DIVERGED, ReplayDiverged, ReplayError, Replayer

pytest_plugins = ["zelsmbus.pytest_plugin"]

BUILD = Path(os.environ.get("ZELSMBUS_LIBRARY", "build/src/libzelsmbus.so.2")).resolve().parents[1]
LAUNCHER = BUILD / "sim" / "zelsim"
TOOL = BUILD / "tools" / "zelsmbus" / "zelsmbus"

pytestmark = pytest.mark.skipif(not LAUNCHER.exists() or not TOOL.exists(),
                                reason="launcher or tool not built")


def dump(address: str) -> list[str]:
    return [str(TOOL), "dump", "ZELSMBUS::SYSTEM::0::0", address]


@pytest.fixture
def replayer(zelsim_replay: Replayer, monkeypatch: pytest.MonkeyPatch,
             tmp_path: Path) -> Replayer:
    # The tests run under an in-process simulator: the recording gets a
    # private world of its own.
    monkeypatch.setenv("ZELSIM_RUNTIME_DIR", str(tmp_path / "run"))
    zelsim_replay.launcher = str(LAUNCHER)
    return zelsim_replay


def test_replay_reproduces_and_divergence_fails(replayer: Replayer, tmp_path: Path) -> None:
    trace = tmp_path / "dump.jsonl"
    recorded = replayer.record(trace, dump("0x50"))
    assert recorded.status == 0, recorded.stderr
    for keyed in (False, True):
        replayed = replayer.replay(trace, dump("0x50"), keyed=keyed)
        assert replayed.status == 0
        assert replayed.stdout == recorded.stdout
    with pytest.raises(ReplayDiverged) as diverged:
        replayer.replay(trace, dump("0x51"))
    assert "actual   readByte on /dev/zelsmbus0 port=0x0 address=0xa2" in str(diverged.value)
    assert diverged.value.result.status == DIVERGED
    unchecked = replayer.replay(trace, dump("0x51"), check=False)
    assert unchecked.status == DIVERGED


def test_bad_trace_and_unwritable_output_raise(replayer: Replayer, tmp_path: Path) -> None:
    bad = tmp_path / "bad.jsonl"
    bad.write_text('{"format":"zelsim-trace","version":9}\n')
    with pytest.raises(ReplayError, match="line 1: key 'version'"):
        replayer.replay(bad, ["true"])
    with pytest.raises(ReplayError, match="cannot write"):
        replayer.record(tmp_path / "missing" / "t.jsonl", ["true"])
