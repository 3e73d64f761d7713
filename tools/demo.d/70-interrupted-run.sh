# Scene: an updater ended while it waits for the installer (a restart, a
# log-off, the Task Manager). The next run finds the backup copies of the
# run that did not end and restores them, so nothing of the configuration
# is lost.

section "An interrupted run, recovered by the next one"
sample_installation
install_updater 'C:\Updates\Update 4'
install_standin standin_installer64.exe 'C:\Updates\Update 4\qiro_upd240046_win64.exe'
modules='C:\VeskaroData\Data\LocalCfg\Modules.ini'
settings='C:\ProgramData\Quendris\QIRO\Settings\qiro.ini'
journal_root=$(unix_path 'C:\ProgramData\Quendris\QIRO\Journal')
rm -rf "$journal_root"
show_backups() {
  say "  backup copies: $(cd "$drive_c" && find . -name '*.upd*' -not -path '*/Journal/*' | sed 's|^\./|C:\\|; s|/|\\|g' | tr '\n' ' ')"
}

say "Before the update:"
show_file "$modules"
show_file "$settings"

write_file 'C:\demo\installer actions.txt' \
"file $modules=[Modules]
ini TMK-QIRO|PHI_LANGUAGE=English
end-parent
"
say ""
say "The stand-in installer empties Modules.ini, sets the settings file's language"
say "to English, and then ends the updater that started it."
export VSKR_INSTALLER_ACTIONS='C:\demo\installer actions.txt'
run_updater 'C:\Updates\Update 4' /quiet
unset VSKR_INSTALLER_ACTIONS

say ""
say "After the interrupted run: the backup copies that hold the configuration"
say "of before it, and the installer's files."
show_backups
show_file "$modules"
say ""

say ""
say "The administrator starts the update again:"
run_updater 'C:\Updates\Update 4' /quiet

say ""
say "After the second run: the configuration of before the first one (with the"
say "launch argument that the first run's preparation completed), no backup left."
show_file "$modules"
show_file "$settings"
show_backups
say "  run journals (C:\\ProgramData\\Quendris\\QIRO\\Journal):"
for run in "$journal_root"/*/; do
  printf '    %s: %s\n' "$(basename "$run")" \
    "$(iconv -f utf-16 -t utf-8 "$run/run.ini" | tr -d '\r"' | sed -n 's/^\(state\|note\)=//p' | paste -sd ' ')"
done
say "  The second run's log tells what it found and did:"
tr -d '\r' <"$(unix_path 'C:\ProgramData\Quendris\QIRO\Logs\vskr_updater.log')" |
  awk '/^==== .* vskr_updater /{block=""} {block=block $0 "\n"} END{printf "%s", block}' |
  grep -E 'run journal|unfinished run|set aside|restored from' | sed 's/^/    /'
