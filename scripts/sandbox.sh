# Sourced by the test, demo, benchmark and measuring scripts: a Wine prefix
# under build/ that can't reach the Linux file system through drive letters
# or profile links, with a virtual display and a wineserver of its own.
#
#   sandbox_session DIR BIN  the whole session: prepares the prefix
#                         DIR/prefix with BIN as drive Y:, starts the display
#                         and the prefix's wineserver, and stops both when
#                         the script exits (after the script's own
#                         sandbox_cleanup function, when it has one)
#   sandbox_prepare DIR BIN  creates (or checks) the prefix
#   sandbox_start DIR     starts its persistent wineserver and boots it
#   sandbox_stop DIR      stops its wineserver
#   sandbox_display       starts a virtual X display of its own (DISPLAY,
#                         xvfb_pid), so that message boxes really appear
#   sandbox_check         fails when the prefix could reach the Linux files
#
# The programs under test delete folders recursively; as root under Wine a
# drive Z: (the Linux root) or a profile folder linked to the Linux home
# would let such a deletion reach real files. The prefix therefore has no Z:,
# and every link under drive_c/users/ is replaced by an empty real folder.
# Drive Y: maps the build's bin folder, read-only use: the tests take the
# program and the stand-ins from there.

sandbox_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# The environment of every Wine program of the sandbox DIR, as
# scripts/sandbox.env gives it (ctest reads the same file).
sandbox_env() {
  local dir name value
  dir=$(cd "$1" && pwd)
  while IFS='=' read -r name value; do
    if [[ $name =~ ^[A-Z_]+$ ]]; then export "$name=${value//@SANDBOX@/$dir}"; fi
  done <"$sandbox_scripts/sandbox.env"
  mkdir -p "$HOME"
}

sandbox_unlink_profiles() {
  rm -f "$WINEPREFIX/dosdevices/z:"
  local link
  while IFS= read -r -d '' link; do
    rm -f "$link"
    mkdir -p "$link"
  done < <(find "$WINEPREFIX/drive_c/users" -type l -print0)
}

sandbox_check() {
  if [ -e "$WINEPREFIX/dosdevices/z:" ] || [ -L "$WINEPREFIX/dosdevices/z:" ]; then
    echo "sandbox: $WINEPREFIX still has drive Z:; refusing to run" >&2
    return 1
  fi
  if [ -n "$(find "$WINEPREFIX/drive_c/users" -type l -print -quit)" ]; then
    echo "sandbox: links remain under $WINEPREFIX/drive_c/users; refusing to run" >&2
    return 1
  fi
  local d
  for d in "$WINEPREFIX"/dosdevices/*:; do
    case "$(basename "$d")" in
      c:|y:) ;;
      *) [ -L "$d" ] && [ -d "$d" ] && { echo "sandbox: unexpected drive $d; refusing to run" >&2; return 1; } ;;
    esac
  done
  return 0
}

sandbox_prepare() {
  local dir=$1 bin=$2
  mkdir -p "$dir"
  sandbox_env "$dir"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "sandbox: creating the Wine prefix $WINEPREFIX"
    wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
  fi
  sandbox_unlink_profiles
  ln -sfn "$(cd "$bin" && pwd)" "$WINEPREFIX/dosdevices/y:"
  sandbox_check
}

sandbox_start() {
  sandbox_env "$1"
  sandbox_check || return 1
  wineserver -p </dev/null >/dev/null 2>&1
  wineboot </dev/null >/dev/null 2>&1
  # Booting may recreate profile links; take them away again.
  sandbox_unlink_profiles
  sandbox_check || return 1
  # The marker that tells the tests they run inside this sandbox.
  wine reg add 'HKLM\Software\VskrTestSandbox' /v Marker /t REG_SZ /d sandbox /f /reg:64 \
    </dev/null >/dev/null 2>&1
}

sandbox_stop() {
  sandbox_env "$1"
  wineserver -k </dev/null >/dev/null 2>&1 || true
  wineserver -w </dev/null >/dev/null 2>&1 || true
}

# Xvfb picks a free display number itself and writes it to file descriptor
# 3 once it accepts connections; without that number the display did not
# start, and the session must not go on (message boxes would fail at once).
sandbox_display() {
  local number_file number=""
  number_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number_file" </dev/null >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 100); do
    number=$(tr -dc 0-9 <"$number_file")
    [ -n "$number" ] || ! kill -0 "$xvfb_pid" 2>/dev/null && break
    sleep 0.1
  done
  rm -f "$number_file"
  if [ -z "$number" ]; then
    echo "sandbox: the virtual display (Xvfb) did not start; refusing to run" >&2
    kill "$xvfb_pid" 2>/dev/null || true
    return 1
  fi
  export DISPLAY=":$number"
}

sandbox_session() {
  sandbox_session_dir=$1
  sandbox_prepare "$1" "$2"
  sandbox_display || exit 1
  trap sandbox_end EXIT
  sandbox_start "$1"
}

sandbox_end() {
  sandbox_stop "$sandbox_session_dir"
  if declare -F sandbox_cleanup >/dev/null; then sandbox_cleanup; fi
  kill "$xvfb_pid" 2>/dev/null || true
}
