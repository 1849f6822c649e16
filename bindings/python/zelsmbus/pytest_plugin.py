"""A pytest fixture that replays driver traces (see zelsmbus.replay).

Enable it in your conftest.py::

    pytest_plugins = ["zelsmbus.pytest_plugin"]

    def test_dump_unchanged(zelsim_replay, shared_datadir):
        result = zelsim_replay.replay(shared_datadir / "dump.jsonl",
                                      ["zelsmbus", "dump", "ZELSMBUS::SYSTEM::0::0", "0x50"])
        assert result.stdout == (shared_datadir / "dump.txt").read_bytes()

A divergence fails the test with zelsim's decoded report.
"""

from __future__ import annotations

import pytest

from .replay import Replayer

__all__ = ["zelsim_replay"]


@pytest.fixture
def zelsim_replay() -> Replayer:
    """A Replayer using ``$ZELSIM`` or ``zelsim`` on PATH."""
    return Replayer()
