# Sourced by the test and demo scripts: a Wine prefix under build/ that can't
# reach the Linux file system through drive letters or profile links.
#
#   sandbox_prepare DIR   creates (or checks) the prefix DIR/prefix
#   sandbox_start DIR     starts its persistent wineserver and boots it
#   sandbox_stop DIR      stops its wineserver
#   sandbox_display       starts a virtual X display of its own (DISPLAY,
#                         xvfb_pid), so that message boxes really appear
#
# The programs under test delete folders recursively; as root under Wine a
# drive Z: (the Linux root) or a profile folder linked to the Linux home
# would let such a deletion reach real files. The prefix therefore has no Z:,
# and every link under drive_c/users/ is replaced by an empty real folder.
# Drive Y: maps the build's bin folder, read-only use: the tests take the
# program and the stand-ins from there.

sandbox_env() {
  local dir
  dir=$(cd "$1" && pwd)
  export WINEPREFIX="$dir/prefix"
  export WINEARCH=win64
  export WINEDEBUG=-all
  # Unix paths and command lines of non-ASCII names need a UTF-8 locale.
  export LANG=C.UTF-8
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  # Anything Wine would link to the home folder points into the sandbox.
  export HOME="$dir/home"
  export XDG_CONFIG_HOME="$dir/home/.config"
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

# Fails when the prefix could still reach the Linux file system.
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

sandbox_display() {
  local display="" n
  for n in $(seq 91 199); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
  done
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY="$display"
  for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
}
