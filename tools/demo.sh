#!/usr/bin/env bash
# Shows what the updater does, on a sample installation in a Wine prefix of
# its own (build/demo/prefix): the state before and after each run, the
# dialogs shown and the programs started.
#
# The scenes are the files tools/demo.d/*.sh, sourced in order; they use
# the functions below. DEMO_SCENES, when set, names the scene files to run
# instead (DEMO_SCENES=tools/demo.d/72-held-backup.sh bash tools/demo.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh
bash scripts/build.sh >/dev/null

. scripts/sandbox.sh
sandbox_session "$root/build/demo" "$root/build/bin"

drive_c="$WINEPREFIX/drive_c"
product_key='HKLM\SOFTWARE\Quendris\VESKARO'
export VSKR_STANDIN_LOG='C:\demo\children.log'

# --- functions for the scenes ---

# The Linux path of a Windows path on drive C:.
unix_path() {
  local p=${1#[Cc]:}
  printf '%s%s' "$drive_c" "${p//\\//}"
}

section() { printf '\n=== %s ===\n' "$*"; }
say() { printf '%s\n' "$*"; }

quiet_wine() { wine "$@" </dev/null 2>/dev/null | tr -d '\r'; }

reg_set() {  # reg_set KEY NAME VALUE [TYPE]
  quiet_wine reg add "$1" /v "$2" /t "${4:-REG_SZ}" /d "$3" /f /reg:64 >/dev/null
}
reg_delete_key() { quiet_wine reg delete "$1" /f /reg:64 >/dev/null || true; }
reg_show() {  # reg_show KEY [NAME...]: the values, one a line
  if [ $# -eq 1 ]; then
    quiet_wine reg query "$1" /reg:64 | sed -n 's/^    /  /p'
  else
    local key=$1; shift
    local name
    for name in "$@"; do
      quiet_wine reg query "$key" /v "$name" /reg:64 | sed -n 's/^    /  /p' | grep . ||
        printf '  %s    (not set)\n' "$name"
    done
  fi
}

show_file() {  # show_file WINDOWS_PATH: its text, indented
  local f
  f=$(unix_path "$1")
  if [ -f "$f" ]; then
    say "  $1:"
    iconv -f "$(file -b --mime-encoding "$f" | sed 's/unknown-8bit/latin1/;s/binary/latin1/')" -t utf-8 "$f" 2>/dev/null |
      tr -d '\r' | sed 's/^/    /'
  else
    say "  $1: (missing)"
  fi
}

write_file() {  # write_file WINDOWS_PATH TEXT
  local f
  f=$(unix_path "$1")
  mkdir -p "$(dirname "$f")"
  printf '%s' "$2" >"$f"
}

# Copies the updater into an update folder (created empty).
install_updater() {
  local f
  f=$(unix_path "$1")
  rm -rf "$f"
  mkdir -p "$f"
  cp "$root/build/bin/vskr_updater.exe" "$f/"
}

# Installs a stand-in program of the tests at a Windows path.
install_standin() {  # install_standin NAME.exe WINDOWS_PATH
  local f
  f=$(unix_path "$2")
  mkdir -p "$(dirname "$f")"
  cp "$root/build/bin/$1" "$f"
}

# run_updater [--unseen] FOLDER ARGS...: runs FOLDER\vskr_updater.exe and
# tells what happened: dialogs, exit code, time, and the programs it started.
# With --unseen it runs as a deployment tool starts it, where nobody sees it.
run_updater() {
  local unseen=()
  if [ "$1" = --unseen ]; then unseen=(--unseen); shift; fi
  local folder=$1; shift
  rm -f "$(unix_path "$VSKR_STANDIN_LOG")"
  mkdir -p "$(unix_path 'C:\demo')"
  say "  > $folder\\vskr_updater.exe $*"
  quiet_wine 'Y:\run_watched.exe' "${unseen[@]}" "$folder\\vskr_updater.exe" "$@"
  local log
  log=$(unix_path "$VSKR_STANDIN_LOG")
  if [ -s "$log" ]; then
    tr -d '\r' <"$log" | awk -F'|' '
      $1 ~ /:end$/ { sub(/:end$/, "", $1); printf "  program ended: %s (%s)\n", $1, $2; next }
      { printf "  program started: %s\n      command line: %s\n      current folder: %s\n", $1, $2, $3 }'
  else
    say "  programs started: none"
  fi
}

# --- the sample installation every scene starts from ---
# The system's tools the updater starts are stand-ins that log their calls.
standin_tools() {
  install_standin standin_tool.exe 'C:\windows\syswow64\tar.exe'
  install_standin standin_tool.exe 'C:\windows\syswow64\net.exe'
  install_standin standin_tool.exe 'C:\windows\Microsoft.NET\Framework\v4.0.30319\regasm.exe'
  install_standin standin_tool.exe 'C:\windows\Microsoft.NET\Framework64\v4.0.30319\regasm.exe'
}

sample_installation() {
  standin_tools
  reg_delete_key "$product_key"
  reg_set "$product_key" ROOTPATH 'C:\Program Files\Veskaro'
  reg_set "$product_key" EXECUTABLEPATH 'C:\Program Files\Veskaro\Sys2021'
  reg_set "$product_key" DATA_PATH 'C:\VeskaroData'
  reg_set "$product_key" WORK_PATH 'C:\VeskaroWork'
  reg_set "$product_key" PROJECT_PATH 'C:\VeskaroProjects'
  reg_set "$product_key" DATABASE_PATH 'C:\VeskaroDb'
  reg_set "$product_key" Linked_ACAD_Id '1004'
  reg_set "$product_key" Linked_ACAD_Product '0'
  reg_set "$product_key" LANGUAGE_GERMAN '1'
  rm -rf "$(unix_path 'C:\Program Files\Veskaro')" "$(unix_path 'C:\VeskaroData')" \
         "$(unix_path 'C:\VeskaroWork')" "$(unix_path 'C:\ProgramData\Quendris')"
  write_file 'C:\Program Files\Veskaro\Sys2021\VC_BaseSBCS_RD.dll' 'program library'
  write_file 'C:\Program Files\Veskaro\Sys2021\Veskaro.exe' 'program, version 1'
  write_file 'C:\Program Files\Veskaro\App\menu.cfg' 'menu, version 1'
  write_file 'C:\VeskaroData\Data\LocalCfg\Modules.ini' $'[Modules]\r\nPiping=1\r\n'
  write_file 'C:\ProgramData\Quendris\QIRO\Settings\qiro.ini' \
    $'[TMK-QIRO]\r\nPHI_ROOTPATH=C:\\Program Files\\Veskaro\r\nPHI_LANGUAGE=German\r\nPHI_DWGEDITORARGUMENT=/nologo 0\r\n'
}

for scene in ${DEMO_SCENES:-tools/demo.d/*.sh}; do
  . "$scene"
done
printf '\nDemo finished.\n'
