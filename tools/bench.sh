#!/usr/bin/env bash
# Times package mode against xcopy, robocopy and the floors (bare loops of
# the least work) on a generated package, in a Wine prefix of its own
# (build/bench/prefix).
#
#   bash tools/bench.sh [FILES...]        sizes, default: 2500 5000 10000
#   RUNS=7 bash tools/bench.sh            timed runs per program and size
#   BENCH_ON_DISK=1 bash tools/bench.sh   data on the disk instead of in
#                                         memory (much noisier)
#   BENCH_BEFORE=EXE bash tools/bench.sh  also times EXE, an earlier build
#                                         of the updater ("before")
#   BENCH_TOOLS="program floor" bash tools/bench.sh   only these; the ratios
#                                         are of the first to each other one
#
# For each size (number of package files) tools/bench_data.py generates an
# unpacked package with the thirteen package folders and an installation that
# holds about half of its files. Then, RUNS times, each of these runs in turn
# (each round starts with the next one), the installation put back as
# generated before every run:
#   program      the updater with "INSTALL_FROM_ZIP" (one process), unsigned,
#                on the package without a list: copied unverified
#   verified     the same updater signed (a test certificate made here; no
#                key is kept), on the same package with its list signed by
#                the same certificate: each copy's digest checked
#   listed       the unsigned updater on the package with that list: each
#                copy's digest checked, no signature judged
#   before       the earlier build, the same way (with BENCH_BEFORE)
#   xcopy        xcopy SRC DST /S /U /Y /H /R, once per package folder
#   robocopy     robocopy SRC DST /E /XL /IS /IT, once per package folder
#                (both the 32-bit programs, like the updater)
#   floor        one thread that copies exactly the files that need a copy
#                with CopyFileW (bench_tool copy 1): the least any refresh
#                has to do
#   copy2        the same on two threads (bench_tool copy 2)
#   transaction  the least a refresh that can be undone has to do, on two
#                threads (bench_tool transaction 2): copies staged beside
#                the files, then each file renamed aside and the staged one
#                into its place, then the old ones deleted
#   transaction4 the same on four threads, as many as the program uses
#   asidecopy    the program's own way, bare, on four threads (bench_tool
#                asidecopy 4): each file renamed aside and its package file
#                copied to its name, then the old ones deleted
# Two figures per run: the elapsed time around the program starts, and the
# processor time (user and system) of the started processes plus that of the
# prefix's wineserver, which does about half of Wine's file work. (Only a
# program that wine starts by its path runs in the process that is timed:
# started by a bare name, it runs in a process of its own behind start.exe,
# and its processor time would be missed.) On this
# shared machine the elapsed times scatter with the load of others; the
# processor times much less. The data lies in memory (a folder under
# /dev/shm that C:\bench links to), so that the disk's write-back does not
# drown the differences either. The first run of each program is checked:
# files replaced, files and folders added or removed. The program's run log
# gives the times of its steps (plan, switch, removal of the old
# files), whose medians and shares are reported too.
#
# Results: build/bench/results.md (and on the terminal).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${RUNS:-7}
sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(2500 5000 10000)
command -v python3 >/dev/null || { echo "bench: python3 is needed to generate the data" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "bench: /usr/bin/time is needed (package time)" >&2; exit 1; }

bash scripts/setup.sh
bash scripts/build.sh >/dev/null

. scripts/sandbox.sh
bench_dir="$root/build/bench"
data_root="$bench_dir/data"
if [ -z "${BENCH_ON_DISK:-}" ]; then
  data_root="/dev/shm/vskr_bench_$(printf '%s' "$root" | md5sum | cut -c1-8)"
fi
# Run by the session's end, after the prefix's server has stopped.
sandbox_cleanup() {
  if [ -n "${drive_c:-}" ]; then rm -f "$drive_c/bench"; fi
  rm -rf "$data_root"
}
sandbox_session "$bench_dir" "$root/build/bin"
drive_c="$WINEPREFIX/drive_c"
rm -rf "$drive_c/bench" "$data_root"
mkdir -p "$data_root/bench"
ln -s "$data_root/bench" "$drive_c/bench"
cd "$drive_c"  # a working folder that Wine can reach

quiet_wine() { wine "$@" </dev/null >"$bench_dir/wine.out" 2>/dev/null; }
product_key='HKLM\SOFTWARE\Quendris\VESKARO'
reg_set() { quiet_wine reg add "$product_key" /v "$1" /t REG_SZ /d "$2" /f /reg:64; }

# The prefix's wineserver: its working folder is named after the prefix's
# device and inode.
server_id=$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))
server=""
for pid in $(pgrep wineserver); do
  if [[ "$(readlink "/proc/$pid/cwd" 2>/dev/null)" == */"$server_id" ]]; then server=$pid; fi
done
[ -n "$server" ] || { echo "bench: the prefix's wineserver was not found" >&2; exit 1; }
ticks=$(getconf CLK_TCK)
server_cpu() { awk -v t="$ticks" '{printf "%.3f", ($14 + $15) / t}' "/proc/$server/stat"; }

# time_programs LISTFILE: starts the programs of LISTFILE one after another
# (one a line, arguments separated by tabs); sets wall and cpu (seconds).
time_programs() {
  local arguments own=0 start end server_before server_after
  server_before=$(server_cpu)
  start=$EPOCHREALTIME
  while IFS=$'\t' read -r -a arguments; do
    /usr/bin/time -f '%U %S' -o "$bench_dir/time.out" \
      wine "${arguments[@]}" </dev/null >/dev/null 2>&1 || true
    own=$(awk -v o="$own" '{print o + $1 + $2}' "$bench_dir/time.out")
  done <"$1"
  end=$EPOCHREALTIME
  server_after=$(server_cpu)
  wall=$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.3f", b - a}')
  cpu=$(awk -v o="$own" -v a="$server_before" -v b="$server_after" 'BEGIN {printf "%.2f", o + b - a}')
}

median() {
  sort -g | awk '{v[NR] = $1}
    END {printf "%.2f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
# paired_ratio "A1 A2 ..." "B1 B2 ...": the median of A_i / B_i, the runs of
# one round side by side (they share the machine's load of the moment).
paired_ratio() {
  paste -d ' ' <(tr ' ' '\n' <<<"${1% }") <(tr ' ' '\n' <<<"${2% }") |
    awk '{print $1 / $2}' | median
}

# Wine's robocopy may be a stub that copies nothing; it is measured only when
# it copies a file.
robocopy_works() {
  local t="$drive_c/bench/robocopy_probe"
  mkdir -p "$t/src" "$t/dst"
  echo new >"$t/src/a.txt"
  echo old >"$t/dst/a.txt"
  quiet_wine 'C:\windows\syswow64\robocopy.exe' \
    'C:\bench\robocopy_probe\src' 'C:\bench\robocopy_probe\dst' /E /XL /IS /IT || true
  local result
  result=$(cat "$t/dst/a.txt")
  rm -rf "$t"
  [ "$result" = new ]
}
tools=(program verified)
[ -n "${BENCH_BEFORE:-}" ] && tools+=(before)
tools+=(xcopy robocopy floor copy2 transaction transaction4 asidecopy)
[ -n "${BENCH_TOOLS:-}" ] && read -r -a tools <<<"$BENCH_TOOLS"
notes=()
if [[ " ${tools[*]} " == *" robocopy "* ]] && ! robocopy_works; then
  notes+=("robocopy: this Wine's robocopy is a stub that copies nothing (exit code 16); not measured.")
  tools=("${tools[@]/robocopy/}")
  read -r -a tools <<<"${tools[*]}"
fi
others=("${tools[@]:1}")
keys="$bench_dir/keys"
# sign_package DATA: a test certificate (made once), the updater signed
# with it, and the package's list (with a version) signed with it, kept in
# DATA/list until a "verified" or "listed" run puts it into the package
# folder.
sign_package() {
  mkdir -p "$keys" "$1/list"
  [ -f "$keys/bench.pem" ] || openssl req -x509 -newkey rsa:2048 -nodes -days 2 \
    -subj /CN=Bench/O=Test -keyout "$keys/bench.key" -out "$keys/bench.pem" 2>/dev/null
  osslsigncode sign -certs "$keys/bench.pem" -key "$keys/bench.key" \
    -in "$1/Update/vskr_updater.exe" -out "$1/Update/vskr_updater_signed.exe" >/dev/null
  (cd "$1/Update/vskr_update" && printf '# vskr-package: 1\n# version: 1.0.0.0\n' &&
    find Veskaro -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum) \
    >"$1/list/vskr_update.sha256"
  openssl cms -sign -binary -md sha256 -outform DER -signer "$keys/bench.pem" \
    -inkey "$keys/bench.key" -in "$1/list/vskr_update.sha256" -out "$1/list/vskr_update.sha256.p7"
}
log_file="$drive_c/ProgramData/Quendris/QIRO/Logs/vskr_updater.log"
# The step times of the program's last run, from its run log's line
# "package: N files replaced (plan A s, switch B s, removal of the old
# files C s)": "A B C", or nothing.
program_steps() {
  tr -d '\r' <"$log_file" 2>/dev/null | grep 'files replaced (plan' | tail -n 1 |
    sed -E 's/.*plan ([0-9.]+) s, switch ([0-9.]+) s, removal of the old files ([0-9.]+) s.*/\1 \2 \3/'
}
steps_table="| package files | plan | switch | removal | sum | program |"$'\n'
steps_table+="|---|---|---|---|---|---|"$'\n'

header="| package files | folders | MB | files copied | MB copied | $(printf '%s | ' "${tools[@]}")"
# The ratios are of the first program to each other one.
first=${tools[0]}
header+="$(printf "$first / %s | " "${others[@]}")"
rule="|---|---|---|---|---|$(printf -- '---|%.0s' "${tools[@]}" "${others[@]}")"
wall_table="$header"$'\n'"$rule"$'\n'
cpu_table="$wall_table"
details=""

for files in "${sizes[@]}"; do
  data="$drive_c/bench/$files"
  pristine="$data_root/pristine/$files"
  mkdir -p "$data" "$pristine"
  echo "== $files files: generating"
  described=$(python3 "$root/tools/bench_data.py" generate "$files" "$data" \
    "C:\\bench\\$files" "$pristine")
  echo "   $described"
  cp "$root/build/bin/vskr_updater.exe" "$data/Update/"
  [ -n "${BENCH_BEFORE:-}" ] && cp "$BENCH_BEFORE" "$data/Update/vskr_updater_before.exe"
  [[ " ${tools[*]} " == *" verified "* || " ${tools[*]} " == *" listed "* ]] &&
    sign_package "$data"
  quiet_wine reg delete "$product_key" /f /reg:64 || true
  reg_set ROOTPATH "C:\\bench\\$files\\Install\\Root"
  reg_set EXECUTABLEPATH "C:\\bench\\$files\\Install\\Root\\Sys2021"
  reg_set WORK_PATH "C:\\bench\\$files\\Install\\Work base"
  reg_set DATA_PATH "C:\\bench\\$files\\Install\\Data base"

  declare -A walls=() cpus=() checks=() wall_median=() cpu_median=()
  steps=("" "" "")
  count=${#tools[@]}
  for run in $(seq 1 "$runs"); do
    for i in $(seq 0 $((count - 1))); do
      tool=${tools[$(((i + run - 1) % count))]}
      rm -rf "$data/Install"
      cp -a "$pristine" "$data/Install"
      # The list is in the package for these runs alone.
      rm -f "$data/Update/vskr_update/vskr_update.sha256"*
      [[ "$tool" == verified || "$tool" == listed ]] && cp "$data/list/"* "$data/Update/vskr_update/"
      sync
      time_programs "$data/$tool.txt"
      walls[$tool]+="$wall "
      cpus[$tool]+="$cpu "
      if [ "$tool" = program ]; then
        read -r -a step <<<"$(program_steps)"
        for k in 0 1 2; do steps[$k]+="${step[$k]:-0} "; done
      fi
      if [ "$run" -eq 1 ]; then
        checks[$tool]=$(python3 "$root/tools/bench_data.py" check "$data" "$pristine")
      fi
      printf '   run %d %-8s %6.2f s elapsed %6.2f s processor\n' "$run" "$tool" "$wall" "$cpu"
    done
  done

  # "N files in F folders, M MB; C files (K MB) installed and to be replaced"
  read -r _ _ _ folders _ mb _ copied _ copied_mb _ <<<"$described"
  row="| $files | $folders | $mb | $copied | ${copied_mb#(} |"
  wall_row=$row
  cpu_row=$row
  details+="### $files package files"$'\n\n'"$described"$'\n\n'
  details+="| program | elapsed s, each run | processor s, each run | result of the first run |"$'\n'
  details+="|---|---|---|---|"$'\n'
  for tool in "${tools[@]}"; do
    wall_median[$tool]=$(printf '%s\n' ${walls[$tool]} | median)
    cpu_median[$tool]=$(printf '%s\n' ${cpus[$tool]} | median)
    wall_row+=" ${wall_median[$tool]} |"
    cpu_row+=" ${cpu_median[$tool]} |"
    details+="| $tool | ${walls[$tool]% } | ${cpus[$tool]% } | ${checks[$tool]} |"$'\n'
  done
  for tool in "${others[@]}"; do
    wall_row+=" $(ratio "${wall_median[$first]}" "${wall_median[$tool]}")"
    wall_row+=" ($(paired_ratio "${walls[$first]}" "${walls[$tool]}")) |"
    cpu_row+=" $(ratio "${cpu_median[$first]}" "${cpu_median[$tool]}")"
    cpu_row+=" ($(paired_ratio "${cpus[$first]}" "${cpus[$tool]}")) |"
  done
  wall_table+="$wall_row"$'\n'
  steps_row="| $files |"
  steps_sum=0
  for k in 0 1 2; do
    step_median[$k]=$(printf '%s\n' ${steps[$k]} | median)
    steps_sum=$(awk -v a="$steps_sum" -v b="${step_median[$k]}" 'BEGIN {print a + b}')
  done
  for k in 0 1 2; do
    steps_row+=" ${step_median[$k]} ($(awk -v a="${step_median[$k]}" -v s="$steps_sum" \
      'BEGIN {printf "%.0f", s ? 100 * a / s : 0}') %) |"
  done
  steps_table+="$steps_row $steps_sum | ${wall_median[program]} |"$'\n'
  cpu_table+="$cpu_row"$'\n'
  details+=$'\n'
  rm -rf "$data" "$pristine"
  unset walls cpus checks wall_median cpu_median step_median
done
quiet_wine reg delete "$product_key" /f /reg:64 || true
rm -rf "$keys"

{
  echo "# Package mode benchmark"
  echo
  where="in memory"
  [ -n "${BENCH_ON_DISK:-}" ] && where="on disk"
  echo "$(date -u +%Y-%m-%d), $(wine --version), $(nproc) cores, data $where, medians of $runs runs."
  echo
  echo "Ratios: of the medians, and in brackets the median of the ratios of the runs of one round."
  echo
  echo "Elapsed seconds (medians):"
  echo
  printf '%s' "$wall_table"
  echo
  echo "Processor seconds, the programs' and the wineserver's (medians):"
  echo
  printf '%s' "$cpu_table"
  echo
  echo "The program's steps, from its run log: seconds (medians) and share of their sum; the"
  echo "program's elapsed median beside it (the rest is its start, the journal and its end):"
  echo
  printf '%s' "$steps_table"
  echo
  for note in "${notes[@]}"; do echo "$note"; echo; done
  printf '%s' "$details"
} >"$bench_dir/results.md"
echo
cat "$bench_dir/results.md"
