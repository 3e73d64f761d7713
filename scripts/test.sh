#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under ctest inside the
# sandbox Wine prefix (build/sandbox/prefix) on a virtual X display.
# Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh
bash scripts/build.sh

. scripts/sandbox.sh
sandbox_prepare "$root/build/sandbox" "$root/build/bin"

# A display of our own, so that message boxes really appear.
display=""
for n in $(seq 91 120); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"

cleanup() {
  sandbox_stop "$root/build/sandbox"
  kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
sandbox_start "$root/build/sandbox"

status=0
ctest --test-dir build --output-on-failure --timeout 300 "$@" </dev/null || status=$?
sandbox_check || status=1
exit $status
