#!/usr/bin/env bash
# Configures and builds the mingw-i686 preset; the program lands at
# build/bin/vskr_updater.exe, the tests and stand-ins beside it.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -f build/CMakeCache.txt ]; then
  cmake --preset mingw-i686 >/dev/null
fi
cmake --build --preset mingw-i686 -j "$(nproc)"
