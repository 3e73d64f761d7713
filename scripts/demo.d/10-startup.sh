# Scene: the update folder without an installer, then with one.

section "An update folder without an installer"
sample_installation
install_updater 'C:\Updates\Update 1'
say "  files in C:\\Updates\\Update 1: $(ls "$(unix_path 'C:\Updates\Update 1')" | tr '\n' ' ')"
run_updater 'C:\Updates\Update 1' /quiet

section "The same folder with an installer beside the updater"
write_file 'C:\Updates\Update 1\qiro_upd240046_win64.exe' 'installer'
say "  files in C:\\Updates\\Update 1: $(ls "$(unix_path 'C:\Updates\Update 1')" | tr '\n' ' ')"
run_updater 'C:\Updates\Update 1' /quiet
