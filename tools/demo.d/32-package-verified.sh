# Scene: a signed updater installs a package only as its signed list has it.

# The package lines of the run log's last block.
package_scene_log() {
  tr -d '\r' <"$(unix_path 'C:\ProgramData\Quendris\QIRO\Logs\vskr_updater.log')" |
    awk '/^==== 2/ { block = "" } { block = block $0 "\n" } END { printf "%s", block }' |
    grep -E 'package|digest|exit code' | grep -v 'package row' | sed 's/^/    /'
}

section "Package mode with a signed updater: the package's signed list of files"
sample_installation
write_file 'C:\Program Files\Veskaro\Sys2021\Veskaro.exe' $'program, version 1\n'
install_updater 'C:\Updates\Package 2'
update=$(unix_path 'C:\Updates\Package 2')
package='C:\Updates\Package 2\vskr_update\Veskaro'
write_file "$package\\Sys2021\\Veskaro.exe" $'program, version 2\n'
write_file "$package\\App\\menu.cfg" $'menu, version 2\n'
# The vendor's build: a certificate (made here for the demo, its key removed
# at the scene's end), the updater signed with it, the list written as
# sha256sum writes it and signed with it.
keys="$root/build/demo/keys"
mkdir -p "$keys"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Quendris/O=Demo' \
  -keyout "$keys/vendor.key" -out "$keys/vendor.pem" 2>/dev/null
osslsigncode sign -certs "$keys/vendor.pem" -key "$keys/vendor.key" \
  -in "$root/build/bin/vskr_updater.exe" -out "$update/vskr_updater.exe.signed" >/dev/null
mv "$update/vskr_updater.exe.signed" "$update/vskr_updater.exe"
(cd "$update/vskr_update" && printf '# vskr-package: 1\n# version: 4.2.0.1234\n' &&
  find Veskaro -type f | LC_ALL=C sort | xargs -d '\n' sha256sum) >"$update/vskr_update/vskr_update.sha256"
openssl cms -sign -binary -md sha256 -outform DER -signer "$keys/vendor.pem" \
  -inkey "$keys/vendor.key" -in "$update/vskr_update/vskr_update.sha256" \
  -out "$update/vskr_update/vskr_update.sha256.p7"
rm -rf "$keys"
say "  the package's list (vskr_update.sha256):"
sed 's/^/    /' "$update/vskr_update/vskr_update.sha256"
# Explorer's thumbnail cache, beside an installed one: not on the list.
write_file "$package\\App\\Thumbs.db" $'thumbnails of the package folder\n'
write_file 'C:\Program Files\Veskaro\App\Thumbs.db' $'thumbnails of the installation\n'

say "  1. a file changed after signing (a copy cut short, a planted DLL):"
write_file "$package\\Sys2021\\Veskaro.exe" $'program, version 2, changed\n'
run_updater 'C:\Updates\Package 2' INSTALL_FROM_ZIP
package_scene_log
show_file 'C:\Program Files\Veskaro\Sys2021\Veskaro.exe'

say "  2. the package as signed:"
write_file "$package\\Sys2021\\Veskaro.exe" $'program, version 2\n'
run_updater 'C:\Updates\Package 2' INSTALL_FROM_ZIP
package_scene_log
show_file 'C:\Program Files\Veskaro\Sys2021\Veskaro.exe'
show_file 'C:\Program Files\Veskaro\App\Thumbs.db'
reg_show "$product_key" PackageVersion PackageApplied

say "  3. the recorded version is higher (4.3): refused unless ALLOW_DOWNGRADE"
reg_set "$product_key" PackageVersion '4.3.0.0'
run_updater 'C:\Updates\Package 2' INSTALL_FROM_ZIP
package_scene_log
run_updater 'C:\Updates\Package 2' INSTALL_FROM_ZIP ALLOW_DOWNGRADE
reg_show "$product_key" PackageVersion
