# Scene: runs as a deployment tool starts them, as the system account on a
# window station that nobody sees. No dialog can wait there; the exit code
# tells the outcome and the run log has the dialog's text.

log_tail() {  # the last run's lines about dialogs and its exit code
  tr -d '\r' <"$(unix_path 'C:\ProgramData\Quendris\QIRO\Logs\vskr_updater.log')" |
    awk '/^==== .* vskr_updater /{block=""} /dialog|exit code/{block=block "    log: " $0 "\n"} END{printf "%s", block}'
}

section "Unattended runs: the exit code tells what happened"
sample_installation
install_updater 'C:\Updates\Fleet'
say "  No installer in the folder (a person would see \"No update file found.\"):"
run_updater --unseen 'C:\Updates\Fleet' /quiet
log_tail
install_standin standin_installer64.exe 'C:\Updates\Fleet\qiro_upd240046_win64.exe'
say "  An installer that asks for a restart (its exit code 3010 is passed on):"
export VSKR_INSTALLER_EXIT=3010
run_updater --unseen 'C:\Updates\Fleet' /quiet
unset VSKR_INSTALLER_EXIT
log_tail
say "  The program folder can't be verified (a person would see the error):"
rm -f "$(unix_path 'C:\Program Files\Veskaro\Sys2021\VC_BaseSBCS_RD.dll')"
write_file 'C:\ProgramData\Quendris\QIRO\Settings\qiro.ini' $'[TMK-QIRO]\r\nPHI_ROOTPATH=C:\\Elsewhere\r\n'
run_updater --unseen 'C:\Updates\Fleet' /quiet
log_tail
say "  Package mode without a package folder:"
run_updater --unseen 'C:\Updates\Fleet' INSTALL_FROM_ZIP
log_tail
