# Scene: the whole update road. The stand-in installer changes what real
# installers change; the updater puts the workstation's configuration back.

environment_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'

section "The whole update: preparation, installer, registration, restoration"
sample_installation
write_file 'C:\Program Files\Veskaro\Sys2021\RuZaduvAveded.exe' 'index engine'
reg_set "$environment_key" VERSANT_DBID '%SystemDrive%\VeskaroDb' REG_EXPAND_SZ
reg_set "$environment_key" VERSANT_DB 'C:\VeskaroDb\plant'
quiet_wine reg delete "$environment_key" /v VERSANT_DBID_NODE /f /reg:64 >/dev/null || true
install_updater 'C:\Updates\Update 3'
install_standin standin_installer64.exe 'C:\Updates\Update 3\qiro_upd240046_win64.exe'

say "Before the update:"
reg_show "$product_key" ROOTPATH Linked_ACAD_Id Linked_ACAD_Product PHI_LANGUAGE
reg_show "$environment_key" VERSANT_DBID VERSANT_DB VERSANT_DBID_NODE
show_file 'C:\ProgramData\Quendris\QIRO\Settings\qiro.ini'
show_file 'C:\VeskaroData\Data\LocalCfg\Modules.ini'

write_file 'C:\demo\installer actions.txt' \
'file C:\VeskaroData\Data\LocalCfg\Modules.ini=[Modules]
ini TMK-QIRO|PHI_LANGUAGE=English
ini TMK-QIRO|PHI_ROOTPATH=C:\Program Files\Veskaro 2024
reg PHI_LANGUAGE=English
env VERSANT_DBID=installer-db
env VERSANT_DB=
env VERSANT_DBID_NODE=node9
'
say ""
say "The stand-in installer will: empty Modules.ini; set the settings file's"
say "language to English and its root to C:\\Program Files\\Veskaro 2024;"
say "set PHI_LANGUAGE=English in the registry; change VERSANT_DBID, remove"
say "VERSANT_DB, add VERSANT_DBID_NODE; leave a copy of itself running 2 s."
export VSKR_INSTALLER_ACTIONS='C:\demo\installer actions.txt' VSKR_INSTALLER_LEFTOVER_MS=2000
run_updater 'C:\Updates\Update 3' /quiet
unset VSKR_INSTALLER_ACTIONS VSKR_INSTALLER_LEFTOVER_MS

say ""
say "After the update:"
reg_show "$product_key" ROOTPATH Linked_ACAD_Id Linked_ACAD_Product PHI_LANGUAGE
reg_show "$environment_key" VERSANT_DBID VERSANT_DB VERSANT_DBID_NODE
show_file 'C:\ProgramData\Quendris\QIRO\Settings\qiro.ini'
show_file 'C:\VeskaroData\Data\LocalCfg\Modules.ini'
say "  backup copies left: $(cd "$drive_c" && find . -name '*.upd' | tr '\n' ' ')"
say "  The product switch was derived from Linked_ACAD_Id 1004 and put in place"
say "  of the launch argument's trailing 0 before the backup copy was made; the"
say "  registration ran after the installer's last process, with the root the"
say "  installer had written; VERSANT_DBID_NODE was not set before, so the"
say "  installer's value stays."
