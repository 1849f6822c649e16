"""The package installs offline with pip and ships its type marker."""

import os
import shutil
import subprocess
import sys

import pytest

from conftest import PACKAGE_ROOT


def test_pip_installs_the_package_offline(tmp_path):
    source = tmp_path / "src"  # a copy, so that the build leaves the checkout clean
    shutil.copytree(PACKAGE_ROOT, source, ignore=shutil.ignore_patterns(
        "tests", "examples", "build", "*.egg-info", "__pycache__"))
    target = tmp_path / "site"
    subprocess.run([sys.executable, "-m", "pip", "install", "--quiet", "--no-build-isolation", "--no-index",
                    "--no-deps", "--target", str(target), str(source)], check=True, timeout=300)
    installed = {path.name for path in (target / "zelsmbus").iterdir()}
    assert {"__init__.py", "session.py", "_codes.py", "py.typed"} <= installed

    environment = dict(os.environ, PYTHONPATH=str(target))
    shown = subprocess.run([sys.executable, "-c", "import zelsmbus; print(zelsmbus.__file__)"],
                           env=environment, capture_output=True, text=True, check=True, cwd=tmp_path)
    assert shown.stdout.startswith(str(target))


def test_backend_reads_the_project_table_without_tomllib():
    # Pythons before 3.11 have no tomllib; the backend's own reader must agree with it.
    tomllib = pytest.importorskip("tomllib")
    sys.path.insert(0, str(PACKAGE_ROOT / "build_backend"))
    try:
        import zelsmbus_build
    finally:
        sys.path.pop(0)
    text = (PACKAGE_ROOT / "pyproject.toml").read_text()
    project = tomllib.loads(text)["project"]
    read = zelsmbus_build._read_project_table(text)
    for key in ("name", "version", "description", "readme", "requires-python", "classifiers"):
        assert read[key] == project[key], key
