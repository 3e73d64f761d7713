# Scene: package mode refreshes the installation from an unpacked package.

# Every file and folder of the installation's folders, one a line, with the
# file's text (lines joined by "|"): what the scene compares before and after
# the run.
package_scene_snapshot() {
  local folder base
  for folder in 'C:\Program Files\Veskaro' 'C:\VeskaroData' 'C:\VeskaroWork'; do
    base=$(unix_path "$folder")
    [ -d "$base" ] || continue
    (cd "$base" && find . -mindepth 1 | sort | while IFS= read -r entry; do
      if [ -d "$entry" ]; then
        printf '%s%s\\\n' "$folder" "$(printf '%s' "${entry#.}" | tr / '\\')"
      else
        printf '%s%s = "%s"\n' "$folder" "$(printf '%s' "${entry#.}" | tr / '\\')" \
          "$(tr -d '\r' <"$entry" | paste -sd '|')"
      fi
    done)
  done
}

section "Package mode: an unpacked package next to the updater"
sample_installation
install_updater 'C:\Updates\Package 1'
package='C:\Updates\Package 1\vskr_update\Veskaro'
write_file "$package\\Sys2021\\Veskaro.exe" 'program, version 2'
write_file "$package\\Sys2021\\Neues Werkzeug.exe" 'a program the installation does not have'
write_file "$package\\Sys2020\\Veskaro.exe" 'program for the 2020 folder'
write_file "$package\\App\\menu.cfg" 'menu, version 2'
# A package copied from read-only media: its files are read-only.
chmod a-w "$(unix_path "$package\\App\\menu.cfg")"
write_file "$package\\app_acad_common\\acad menu.cfg" 'not installed, so not added'
write_file "$package\\LocalCfg\\Modules.ini" $'[Modules]\r\nPiping=1\r\nValves=1\r\n'
write_file "$package\\catalog\\Rohre.cat" 'the installation has no catalog folder'
reg_show "$product_key" ROOTPATH EXECUTABLEPATH DATA_PATH WORK_PATH
say "  package files:"
(cd "$(unix_path "$package")" && find . -type f | sort | sed 's|^\./|    |' | tr / '\\')
say "  installation before:"
package_scene_snapshot >"$root/build/demo/package_before.txt"
sed 's/^/    /' "$root/build/demo/package_before.txt"

run_updater 'C:\Updates\Package 1' INSTALL_FROM_ZIP

package_scene_snapshot >"$root/build/demo/package_after.txt"
say "  installation files replaced by the package:"
diff "$root/build/demo/package_before.txt" "$root/build/demo/package_after.txt" |
  sed -n 's/^> /    /p' || true
say "  entries added to the installation: $(diff <(sed 's/ = .*//' "$root/build/demo/package_before.txt") \
  <(sed 's/ = .*//' "$root/build/demo/package_after.txt") | grep -c '^>' || true)"
say "  the package folder is still there: $([ -d "$(unix_path "$package")" ] && echo yes || echo no)"
say "  attributes of the package's read-only menu.cfg and of its installed copy:"
for file in "$package\\App\\menu.cfg" 'C:\Program Files\Veskaro\App\menu.cfg'; do
  quiet_wine cmd /c attrib "$file" | sed 's/^/    /'
done
say "  a second package run: exit code $(run_updater 'C:\Updates\Package 1' INSTALL_FROM_ZIP |
  sed -n 's/.*exit code: \([0-9]*\).*/\1/p') (the installed copies are writable)"
