"""A script written for smbus2 runs after changing only how the bus is opened."""

import ast
import os
import subprocess
import sys

from conftest import PACKAGE_ROOT

EXAMPLES = PACKAGE_ROOT / "examples"


def _code_without_docstring(path):
    """The script's statements, docstring left out, as comparable text."""
    tree = ast.parse(path.read_text())
    body = tree.body[1:] if isinstance(tree.body[0], ast.Expr) else tree.body
    return [ast.dump(node) for node in body]


def test_port_changes_only_the_opening_lines():
    original = _code_without_docstring(EXAMPLES / "eeprom_and_sensor_smbus2.py")
    ported = _code_without_docstring(EXAMPLES / "eeprom_and_sensor.py")
    assert len(original) == len(ported)
    changed = [(a, b) for a, b in zip(original, ported) if a != b]
    assert len(changed) == 2
    assert "smbus2" in changed[0][0] and "zelsmbus" in changed[0][1]  # the import
    assert "Name(id='BUS'" in changed[1][0] and "ZELSMBUS::SYSTEM::0::0" in changed[1][1]


def test_ported_script_runs_against_the_simulated_world(sim):
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(
        [str(PACKAGE_ROOT)] + [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p]))
    # The child inherits the preloaded simulator and starts from its own default world.
    result = subprocess.run([sys.executable, str(EXAMPLES / "eeprom_and_sensor.py")], env=environment,
                            capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "EEPROM ok: SN-2026-0042" in result.stdout
    assert "temperature: 25.0 C (limits 75.0 C / 80.0 C)" in result.stdout
