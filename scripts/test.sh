#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under ctest inside the
# sandbox Wine prefix (build/sandbox/prefix) on a virtual X display; then
# tells the size of the tests against the program (scripts/test_ratio.sh).
# Exits non-zero when anything fails or the tests have grown too large.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh
bash scripts/build.sh

. scripts/sandbox.sh
sandbox_session "$root/build/sandbox" "$root/build/bin"

status=0
ctest --test-dir build --output-on-failure --timeout 300 "$@" </dev/null || status=$?
sandbox_check || status=1
bash scripts/test_ratio.sh || status=1
exit $status
