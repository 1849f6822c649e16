"""Record a program's driver requests and replay them as a regression test.

Runs ``zelsim record`` and ``zelsim replay`` (see zelsim(1) and the trace
format zelsim-trace(5)) from Python: record a program once against a world or
a test station, keep the trace beside your tests, and replay it in CI with no
hardware and no world::

    from zelsmbus.replay import Replayer
    replayer = Replayer()
    replayer.record("dump.jsonl", ["zelsmbus", "dump", "ZELSMBUS::SYSTEM::0::0", "0x50"])
    result = replayer.replay("dump.jsonl", ["zelsmbus", "dump", "ZELSMBUS::SYSTEM::0::0", "0x50"])
    print(result.stdout.decode())

A replay in which the program made a request the trace does not hold (or
fewer requests than it holds) raises ReplayDiverged, an AssertionError whose
message is zelsim's report: the request that was due and the one made,
decoded, with the requests before it. With pytest, the ``zelsim_replay``
fixture of ``zelsmbus.pytest_plugin`` hands a test a Replayer.

The launcher is ``$ZELSIM`` when set, else ``zelsim`` on PATH.
"""

from __future__ import annotations

import os
import subprocess
from dataclasses import dataclass
from typing import Dict, Optional, Sequence, Union

__all__ = ["DIVERGED", "ReplayDiverged", "ReplayError", "ReplayResult", "Replayer"]

DIVERGED = 3  # zelsim replay's exit status at a divergence

PathLike = Union[str, "os.PathLike[str]"]


@dataclass
class ReplayResult:
    """What the program printed, and zelsim's exit status (the program's own
    status unless the replay diverged)."""

    status: int
    stdout: bytes
    stderr: str


class ReplayDiverged(AssertionError):
    """The program did not make the recorded requests."""

    def __init__(self, result: ReplayResult) -> None:
        super().__init__(result.stderr.strip() or "zelsim replay: diverged")
        self.result = result


class ReplayError(RuntimeError):
    """zelsim refused to run (an unreadable or invalid trace, a bad option)."""


class Replayer:
    """Runs programs under ``zelsim record`` and ``zelsim replay``."""

    def __init__(self, launcher: Optional[str] = None,
                 env: Optional[Dict[str, str]] = None) -> None:
        self.launcher = launcher or os.environ.get("ZELSIM") or "zelsim"
        self.env = env

    def _run(self, arguments: Sequence[str]) -> ReplayResult:
        done = subprocess.run([self.launcher, *arguments], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, env=self.env, check=False)
        return ReplayResult(done.returncode, done.stdout,
                            done.stderr.decode("utf-8", "replace"))

    def record(self, trace: PathLike, command: Sequence[str],
               world: Optional[PathLike] = None) -> ReplayResult:
        """Runs command under ``zelsim record`` into trace (replaced); raises
        ReplayError when the trace cannot be written."""
        options = ["record", "-o", os.fspath(trace)]
        if world is not None:
            options += ["--world", os.fspath(world)]
        result = self._run([*options, "--", *command])
        if result.status == 2 and "zelsim record:" in result.stderr:
            raise ReplayError(result.stderr.strip())
        return result

    def replay(self, trace: PathLike, command: Sequence[str], keyed: bool = False,
               volatile: Sequence[str] = (), check: bool = True) -> ReplayResult:
        """Runs command under ``zelsim replay``. volatile: "NODE:REGISTER:MASK"
        entries. With check (the default) a divergence raises ReplayDiverged;
        an invalid trace always raises ReplayError."""
        options = ["replay", os.fspath(trace), "--keyed" if keyed else "--strict"]
        for entry in volatile:
            options += ["--volatile", entry]
        result = self._run([*options, "--", *command])
        if result.status == 2 and "zelsim replay:" in result.stderr:
            raise ReplayError(result.stderr.strip())
        if check and result.status == DIVERGED:
            raise ReplayDiverged(result)
        return result
