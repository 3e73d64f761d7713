# Scene: the update folder without an installer, then with an installer file
# that is no program.

section "An update folder without an installer"
sample_installation
install_updater 'C:\Updates\Update 1'
say "  files in C:\\Updates\\Update 1: $(ls "$(unix_path 'C:\Updates\Update 1')" | tr '\n' ' ')"
run_updater 'C:\Updates\Update 1' /quiet

section "The same folder with an installer file that is no program"
write_file 'C:\Updates\Update 1\qiro_upd240046_win64.exe' 'installer'
write_file 'C:\Updates\Update 1\vskr_update\Data\catalog.dat' 'unpacked package'
say "  files in C:\\Updates\\Update 1: $(ls "$(unix_path 'C:\Updates\Update 1')" | tr '\n' ' ')"
say "  The installer can't be started, so the update's files are removed; the"
say "  running updater itself stays."
run_updater 'C:\Updates\Update 1' /quiet
say "  files left in C:\\Updates\\Update 1: $(ls "$(unix_path 'C:\Updates\Update 1')" 2>/dev/null | tr '\n' ' ')"

section "The same failure with the updater on the Public Desktop"
desktop='C:\users\Public\Desktop'
cp "$root/build/bin/vskr_updater.exe" "$(unix_path "$desktop")/vskr_updater.exe"
write_file "$desktop\\qiro_upd240046_Win64.exe" 'installer'
write_file "$desktop\\VSKR_UPDATE.zip" 'archive'
write_file "$desktop\\Plant layout.dwg" 'a drawing of the user'
write_file "$desktop\\Projects\\pump list.txt" 'a list of the user'
say "  files on the Public Desktop: $(ls "$(unix_path "$desktop")" | tr '\n' ' ')"
say "  The Desktop is a folder of the system, not the update's own: only the"
say "  update's named files go (installer, data archive, package folder)."
run_updater "$desktop" /quiet
say "  files left on the Public Desktop: $(ls "$(unix_path "$desktop")" | tr '\n' ' ')"
rm -rf "$(unix_path "$desktop")/Projects" "$(unix_path "$desktop")/Plant layout.dwg" \
       "$(unix_path "$desktop")/vskr_updater.exe"
