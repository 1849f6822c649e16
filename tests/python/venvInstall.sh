#!/bin/sh
# The README's Python commands, exactly, in a fresh virtual environment that
# sees the system's packages (and so may lack `wheel`):
#   venvInstall.sh SOURCE_DIR BUILD_DIR
# Uses the python3 first on PATH, as a user typing the commands would.
set -eu
source_dir=$1
build_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
unset PYTHONPATH ZELSMBUS_LIBRARY PIP_REQUIRE_VIRTUALENV || true
ln -s "$source_dir/bindings" bindings
ln -s "$build_dir" build

python3 -m venv --system-site-packages .venv && . .venv/bin/activate
pip install --no-build-isolation bindings/python
ZELSMBUS_LIBRARY=build/src/libzelsmbus.so.2 build/sim/zelsim -- python3 -c "import zelsmbus; print(zelsmbus.resource_names())"

# The package came from the environment, with its type marker, not from the checkout.
python3 - <<'PY'
import pathlib, sys
import zelsmbus
package = pathlib.Path(zelsmbus.__file__).parent
assert package.is_relative_to(sys.prefix), package
assert (package / "py.typed").is_file()
print("installed in", package)
PY
