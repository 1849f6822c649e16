"""The package's own PEP 517 build backend: pure Python, standard library only.

The package is a handful of .py files, so a wheel is a zip of them and a
.dist-info folder. Building it here, rather than through setuptools, lets
`pip install --no-build-isolation bindings/python` work in any environment,
including a virtual environment without the `wheel` package (setuptools before
70.1 needs it for bdist_wheel) and one without setuptools at all.

Metadata comes from the [project] table of pyproject.toml.
"""

from __future__ import annotations

import base64
import hashlib
import io
import os
import re
import tarfile
import zipfile
from pathlib import Path
from typing import Any, Dict, List, Optional, Tuple

ROOT = Path(__file__).resolve().parents[1]
PACKAGE = "zelsmbus"
TAG = "py3-none-any"


# ---- metadata -------------------------------------------------------------------------

def _read_project() -> Dict[str, object]:
    text = (ROOT / "pyproject.toml").read_text(encoding="utf-8")
    try:
        import tomllib  # Python 3.11 and later
    except ModuleNotFoundError:
        return _read_project_table(text)
    project: Dict[str, object] = tomllib.loads(text)["project"]
    return project


def _read_project_table(text: str) -> Dict[str, object]:
    """The strings and string lists of [project], for Pythons without tomllib."""
    section = re.search(r"^\[project\]\s*$(.*?)(?=^\[|\Z)", text, re.M | re.S)
    if section is None:
        raise ValueError("pyproject.toml has no [project] table")
    project: Dict[str, object] = {}
    for key, value in re.findall(r'^([\w-]+)\s*=\s*("[^"]*"|\[[^\]]*\])', section.group(1), re.M):
        project[key] = re.findall(r'"([^"]*)"', value) if value.startswith("[") else value[1:-1]
    return project


def _metadata() -> str:
    project = _read_project()
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {project['name']}",
        f"Version: {project['version']}",
        f"Summary: {project.get('description', '')}",
    ]
    if "requires-python" in project:
        lines.append(f"Requires-Python: {project['requires-python']}")
    lines += [f"Classifier: {c}" for c in _strings(project.get("classifiers", []))]
    readme = project.get("readme")
    if readme:
        lines.append("Description-Content-Type: text/markdown")
        lines.append("")
        lines.append((ROOT / str(readme)).read_text(encoding="utf-8"))
    return "\n".join(lines) + "\n"


def _strings(value: object) -> List[str]:
    return [str(item) for item in value] if isinstance(value, list) else []


def _name_version() -> Tuple[str, str]:
    project = _read_project()
    return str(project["name"]), str(project["version"])


def _dist_info() -> str:
    name, version = _name_version()
    return f"{name}-{version}.dist-info"


def _dist_info_files() -> List[Tuple[str, bytes]]:
    wheel = f"Wheel-Version: 1.0\nGenerator: zelsmbus_build\nRoot-Is-Purelib: true\nTag: {TAG}\n"
    return [
        ("METADATA", _metadata().encode("utf-8")),
        ("WHEEL", wheel.encode("utf-8")),
        ("top_level.txt", f"{PACKAGE}\n".encode("utf-8")),
    ]


# ---- wheels ---------------------------------------------------------------------------

def _package_files() -> List[Tuple[str, bytes]]:
    """The package's modules and its type marker, in a stable order."""
    files = []
    for path in sorted((ROOT / PACKAGE).iterdir()):
        if path.is_file() and (path.suffix == ".py" or path.name == "py.typed"):
            files.append((f"{PACKAGE}/{path.name}", path.read_bytes()))
    return files


def _record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode("ascii")
    return f"{name},sha256={digest},{len(data)}"


def _write_wheel(directory: str, files: List[Tuple[str, bytes]]) -> str:
    name, version = _name_version()
    filename = f"{name}-{version}-{TAG}.whl"
    info = _dist_info()
    files = files + [(f"{info}/{n}", data) for n, data in _dist_info_files()]
    record = "\n".join([_record_line(n, data) for n, data in files] + [f"{info}/RECORD,,", ""])
    with zipfile.ZipFile(os.path.join(directory, filename), "w", zipfile.ZIP_DEFLATED) as wheel:
        for n, data in files + [(f"{info}/RECORD", record.encode("utf-8"))]:
            entry = zipfile.ZipInfo(n, date_time=(2020, 1, 1, 0, 0, 0))
            entry.external_attr = 0o644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(entry, data)
    return filename


def get_requires_for_build_wheel(config_settings: Optional[Dict[str, Any]] = None) -> List[str]:
    return []


def get_requires_for_build_sdist(config_settings: Optional[Dict[str, Any]] = None) -> List[str]:
    return []


def get_requires_for_build_editable(config_settings: Optional[Dict[str, Any]] = None) -> List[str]:
    return []


def prepare_metadata_for_build_wheel(metadata_directory: str, config_settings: Optional[Dict[str, Any]] = None) -> str:
    info = Path(metadata_directory) / _dist_info()
    info.mkdir(parents=True, exist_ok=True)
    for n, data in _dist_info_files():
        (info / n).write_bytes(data)
    return info.name


prepare_metadata_for_build_editable = prepare_metadata_for_build_wheel


def build_wheel(wheel_directory: str, config_settings: Optional[Dict[str, Any]] = None,
                metadata_directory: Optional[str] = None) -> str:
    return _write_wheel(wheel_directory, _package_files())


def build_editable(wheel_directory: str, config_settings: Optional[Dict[str, Any]] = None,
                   metadata_directory: Optional[str] = None) -> str:
    """An editable install: a .pth file that puts this folder on sys.path."""
    return _write_wheel(wheel_directory, [(f"_{PACKAGE}_editable.pth", f"{ROOT}\n".encode("utf-8"))])


# ---- source distributions -------------------------------------------------------------------

def build_sdist(sdist_directory: str, config_settings: Optional[Dict[str, Any]] = None) -> str:
    name, version = _name_version()
    base = f"{name}-{version}"
    members = ["pyproject.toml", "README.md", "build_backend/zelsmbus_build.py"]
    members += [n for n, _ in _package_files()]
    filename = f"{base}.tar.gz"
    with tarfile.open(os.path.join(sdist_directory, filename), "w:gz") as sdist:
        for member in members:
            sdist.add(str(ROOT / member), arcname=f"{base}/{member}")
        info = tarfile.TarInfo(f"{base}/PKG-INFO")
        data = _metadata().encode("utf-8")
        info.size = len(data)
        sdist.addfile(info, io.BytesIO(data))
    return filename
