#!/usr/bin/env bash
# Measures the time the updater adds around an installer and the processor
# time it uses while it waits, with the 64-bit installer stand-in, in the
# test sandbox (build/sandbox; don't run it alongside scripts/test.sh).
#   bash tools/measure_wait.sh [runs]
# Three cases: an installer that ends at once, one that works 5 s, and one
# that ends at once but leaves a copy of itself running for 20 s (the
# updater then spends those seconds in its once-a-second process-list poll).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-7}

bash scripts/setup.sh
bash scripts/build.sh >/dev/null

. scripts/sandbox.sh
sandbox_session "$root/build/sandbox" "$root/build/bin"

measure() { wine 'Y:\measure_wait.exe' "$@" </dev/null 2>/dev/null | tr -d '\r'; }
measure "$runs" 0
measure "$runs" 5000
measure 3 0 20000
