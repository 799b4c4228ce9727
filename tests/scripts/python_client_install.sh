#!/bin/sh
# Installs the Python client offline into fresh virtual environments, from the
# `client` install component of a build made read-only: its source folder
# with --no-build-isolation, with the given python3 and with Debian's
# /usr/bin/python3, and its wheel with the given python3. Each environment
# asks that build's bridge one question. Needs Debian's python3-venv and flit
# (for flit_core).
#
# python_client_install.sh <python> <cmake> <build folder> <bridge> <stand-in vendor>
#                  <LMC file>
set -eu
python3=$1 cmake=$2 build=$3 program=$4 vendor=$5 lmc=$6
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT

"$cmake" --install "$build" --prefix "$work/prefix" --component client >/dev/null
client=$(dirname "$(find "$work/prefix" -name pyproject.toml)")
wheel=$(ls "$client"/status_bridge_client-*.whl)
chmod -R a-w "$work/prefix"

# The build backend, flit_core, offline: Debian's copy, alone in a folder
# that goes on the path of the pip that builds from source.
flit_core=$(/usr/bin/python3 -c \
  'import flit_core, os; print(os.path.dirname(flit_core.__file__))')
mkdir "$work/backend"
ln -s "$flit_core" "$work/backend/flit_core"

ask() {
  (cd "$work" && "$1" - "$program" "$vendor" "$lmc") <<'PYTHON'
import sys

import status_bridge_client as sbc

program, vendor, lmc = sys.argv[1:]
if not sbc.__file__.startswith(sys.prefix):
    sys.exit(f"imported from {sbc.__file__}, not from the environment")
with sbc.StatusBridge(program, library_path=vendor, private_call=True,
                      timeout=30) as bridge:
    answers = (bridge.is_verified(lmc, "U1"), bridge.is_verified(lmc, "U2"))
print(f"  status-bridge-client {sbc.__version__} on Python "
      f"{sys.version.split()[0]}; U1, U2: {answers}")
sys.exit(0 if answers == (True, False) else 1)
PYTHON
}

n=0
for run in "$python3 source" "/usr/bin/python3 source" "$python3 wheel"; do
  interpreter=${run% *} from=${run##* }
  n=$((n + 1))
  venv="$work/venv$n"
  echo "$interpreter, from the $from:"
  "$interpreter" -m venv "$venv"
  if [ "$from" = wheel ]; then
    "$venv/bin/python" -m pip install -q --no-index "$wheel"
  else
    PYTHONPATH="$work/backend" "$venv/bin/python" -m pip install -q \
      --no-index --no-build-isolation "$client"
  fi
  ask "$venv/bin/python"
done
