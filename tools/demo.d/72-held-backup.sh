# Scene: the installer leaves a helper (a scanner, a backup agent) that holds
# the backup copy of Modules.ini for a few seconds. The run puts Modules.ini
# back but can't remove the backup copy; the administrator then edits the
# configuration. The next run only releases the backup copy: it never puts
# an old copy back over the newer edit.

section "A backup copy held past the run, released by the next one"
sample_installation
install_updater 'C:\Updates\Update 5'
install_standin standin_installer64.exe 'C:\Updates\Update 5\qiro_upd240050_win64.exe'
install_standin standin_tool.exe 'C:\demo\scanner.exe'
modules='C:\VeskaroData\Data\LocalCfg\Modules.ini'
journal_root=$(unix_path 'C:\ProgramData\Quendris\QIRO\Journal')
rm -rf "$journal_root"
reg_set 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' VERSANT_DB 'C:\VeskaroDb\plant'

write_file 'C:\demo\installer actions.txt' \
"file $modules=[Modules]
hold $modules.upd=\"C:\\demo\\scanner.exe\" 4000 sleep
"
say "The stand-in installer empties Modules.ini and leaves a helper that holds"
say "Modules.ini.upd for 4 s."
export VSKR_INSTALLER_ACTIONS='C:\demo\installer actions.txt'
run_updater 'C:\Updates\Update 5' /quiet
unset VSKR_INSTALLER_ACTIONS
show_file "$modules"
say "  backup copy left: $(ls "$(unix_path "$modules")".upd* 2>/dev/null | xargs -r -n1 basename | tr '\n' ' ')"
sleep 5

say ""
say "The administrator edits Modules.ini and points VERSANT_DB at another database:"
write_file "$modules" $'[Modules]\r\nPiping=1\r\nIsometrics=1\r\n'
reg_set 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' VERSANT_DB 'C:\VeskaroDb\other'
show_file "$modules"

say ""
say "The next update run:"
run_updater 'C:\Updates\Update 5' /quiet
say "After it: the edit and the new database stay; the old backup copy is gone."
show_file "$modules"
reg_show 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' VERSANT_DB
say "  backup copy left: $(ls "$(unix_path "$modules")".upd* 2>/dev/null | xargs -r -n1 basename | tr '\n' ' ')"
say "  The second run's log on the first run:"
tr -d '\r' <"$(unix_path 'C:\ProgramData\Quendris\QIRO\Logs\vskr_updater.log')" |
  awk '/^==== .* vskr_updater /{block=""} {block=block $0 "\n"} END{printf "%s", block}' |
  grep -E 'unfinished run|released|put back|set aside|exit code' | sed 's/^/    /'
