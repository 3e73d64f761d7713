# Scene: a whole installer run with the stand-ins for the installer (a 64-bit
# program like the real one) and for the system's tar.

section "A full update: archive unpacked, installer run and waited for"
sample_installation
install_updater 'C:\Updates\Update 2'
install_standin standin_installer64.exe 'C:\Updates\Update 2\qiro_upd240046_win64.exe'
write_file 'C:\Updates\Update 2\vskr_update.zip' 'archive'
say "  files in C:\\Updates\\Update 2: $(ls "$(unix_path 'C:\Updates\Update 2')" | tr '\n' ' ')"
say "  The installer works 1 s and leaves behind a copy of itself (--leftover)"
say "  that runs 4 s in all. The updater waits for the installer, then looks"
say "  once a second until no process of the installer's name is left."
export VSKR_INSTALLER_SLEEP_MS=1000 VSKR_INSTALLER_LEFTOVER_MS=4000
export VSKR_INSTALLER_LEFTOVER_DONE='C:\demo\leftover done.txt'
run_updater 'C:\Updates\Update 2' /quiet LANG=de
unset VSKR_INSTALLER_SLEEP_MS VSKR_INSTALLER_LEFTOVER_MS VSKR_INSTALLER_LEFTOVER_DONE
if [ -f "$(unix_path 'C:\demo\leftover done.txt')" ]; then
  say "  the leftover copy had finished before the updater ended"
fi
say "  tar ran in the update folder; the installer was started from the"
say "  updater's own current folder, which tar's step left unchanged."

section "The time the updater adds around an installer (3 runs each)"
say "  added = the updater's whole run minus the installer's own life;"
say "  before = until the installer is created, after = from its end."
quiet_wine 'Y:\measure_wait.exe' 3 0 | sed 's/^/  /'
quiet_wine 'Y:\measure_wait.exe' 3 5000 | sed 's/^/  /'
