#!/usr/bin/env bash
# The Python package's tests: installs the package offline into a fresh virtual environment (with
# Debian's NumPy, matplotlib and pytest visible) and runs its tests there against the library and
# the simulated tracker of a build tree.
#   python/run_tests.sh BUILD_DIR [pytest arguments]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: run_tests.sh BUILD_DIR [pytest arguments]}" && pwd)
shift
python=/usr/bin/python3
work=$(mktemp -d /tmp/lvx_python.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Debian's pip installs into the environment (--python), which spares the environment a pip of
# its own: the slowest step of making one.
"$python" -m venv --without-pip --system-site-packages "$work/venv"
# Built from a copy, so that the build leaves nothing in the source tree.
mkdir "$work/src"
cp -r "$here/pyproject.toml" "$here/setup.py" "$here/README.md" "$here/lumavex" "$work/src/"
"$python" -m pip --python "$work/venv/bin/python" install --quiet --no-index --no-build-isolation \
  --disable-pip-version-check "$work/src"

# From a folder of their own the tests import the installed package, not the source tree's.
cd "$work"
LUMAVEX_CORE_LIBRARY="$build/src/liblumavex_core.so" \
  LUMAVEX_SIM_TRACKER="$build/sim/lumavex_sim_tracker" \
  LUMAVEX_SOURCE_DIR="$here/.." \
  PYTHONDONTWRITEBYTECODE=1 \
  "$work/venv/bin/python" -m pytest -q -p no:cacheprovider "$here/tests" "$@"
