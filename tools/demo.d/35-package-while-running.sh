# Scene: package mode while VESKARO runs. Its program file and its library
# can be renamed though not overwritten: the updater sets them aside and puts
# the new ones in their place like every other file, and the old ones, which
# the running program still holds, are both scheduled (one after the other)
# for removal at the next restart (exit code 3010).

section "Package mode while VESKARO runs"
sample_installation
install_updater 'C:\Updates\Package 2'
package='C:\Updates\Package 2\vskr_update\Veskaro'
program='C:\Program Files\Veskaro\Sys2021'
write_file "$package\\Sys2021\\Veskaro.exe" $'program, version 2\n'
write_file "$package\\Sys2021\\VC_BaseSBCS_RD.dll" $'program library, version 2\n'
write_file "$package\\App\\menu.cfg" $'menu, version 2\n'
# VESKARO and its library in use: stand-in programs started from the program
# folder as Veskaro.exe and as VC_BaseSBCS_RD.dll, which run (and hold their
# files) until they are ended.
install_standin standin_tool.exe "$program\\Veskaro.exe"
install_standin standin_tool.exe "$program\\VC_BaseSBCS_RD.dll"
rm -f "$(unix_path "$VSKR_STANDIN_LOG")"
wine "$program\\Veskaro.exe" sleep </dev/null >/dev/null 2>&1 &
veskaro=$!
wine "$program\\VC_BaseSBCS_RD.dll" sleep </dev/null >/dev/null 2>&1 &
library=$!
started=$(unix_path "$VSKR_STANDIN_LOG")
for _ in $(seq 1 100); do
  [ -f "$started" ] && [ "$(wc -l <"$started")" -ge 2 ] && break
  sleep 0.1
done
say "  VESKARO runs from $program\\Veskaro.exe, with $program\\VC_BaseSBCS_RD.dll in use"
program_folder() { (cd "$(unix_path "$program")" && ls -1 | sed 's/^/    /'); }
say "  the program folder before:"
program_folder

run_updater 'C:\Updates\Package 2' INSTALL_FROM_ZIP
say "  the program folder after (the old program and library, still in use, wait under their aside names):"
program_folder
show_file "$program\\Veskaro.exe"
show_file 'C:\Program Files\Veskaro\App\menu.cfg'
say "  the run log tells:"
tr -d '\r' <"$(unix_path 'C:\ProgramData\Quendris\QIRO\Logs\vskr_updater.log')" |
  awk '/^==== .* vskr_updater /{block=""} {block=block $0 "\n"} END{printf "%s", block}' |
  grep -E 'files to replace, |in use|files replaced|exit code' | sed 's/^/    /'
say "  removal waiting for the restart (PendingFileRenameOperations):"
quiet_wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
  /v PendingFileRenameOperations | sed -n 's/^ *PendingFileRenameOperations *REG_MULTI_SZ */    /p'

say ""
say "VESKARO ends and the workstation restarts (wineboot -r):"
quiet_wine taskkill /f /im Veskaro.exe >/dev/null || true
quiet_wine taskkill /f /im VC_BaseSBCS_RD.dll >/dev/null || true
wait "$veskaro" "$library" || true
quiet_wine wineboot -r
say "  the program folder after the restart:"
program_folder
