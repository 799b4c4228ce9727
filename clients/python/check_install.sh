#!/bin/sh
# Installs the Python client offline into a fresh virtual environment, from
# the `client` install component of a build, and asks that build's bridge one
# question through it. Needs Debian's python3-venv and python3-wheel-whl.
#
# check_install.sh <python> <cmake> <build folder> <bridge> <stand-in vendor>
#                  <LMC file>
set -eu
python3=$1 cmake=$2 build=$3 program=$4 vendor=$5 lmc=$6
wheels=/usr/share/python-wheels
if ! ls "$wheels"/wheel-*.whl >/dev/null 2>&1; then
  echo "no wheel in $wheels: install python3-venv and python3-wheel-whl" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$cmake" --install "$build" --prefix "$work/prefix" --component client >/dev/null
client=$(dirname "$(find "$work/prefix" -name pyproject.toml)")
"$python3" -m venv "$work/venv"
python="$work/venv/bin/python"
# Offline: the build tools come from Debian's copies of their wheels.
"$python" -m pip install -q --no-index --find-links "$wheels" setuptools wheel
"$python" -m pip install -q --no-index --no-build-isolation "$client"

cd "$work"
"$python" - "$program" "$vendor" "$lmc" <<'PYTHON'
import sys

import status_bridge_client as sbc

program, vendor, lmc = sys.argv[1:]
if not sbc.__file__.startswith(sys.prefix):
    sys.exit(f"imported from {sbc.__file__}, not from the environment")
with sbc.StatusBridge(program, library_path=vendor, allow_private=True,
                      timeout=30) as bridge:
    answers = (bridge.is_verified(lmc, "U1"), bridge.is_verified(lmc, "U2"))
print(f"status-bridge-client {sbc.__version__} installed; U1, U2: {answers}")
sys.exit(0 if answers == (True, False) else 1)
PYTHON
