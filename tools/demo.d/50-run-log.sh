# Scene: the run log that administrators read after a run.

section "The run log (C:\\ProgramData\\Quendris\\QIRO\\Logs\\vskr_updater.log)"
log="$(unix_path 'C:\ProgramData\Quendris\QIRO\Logs\vskr_updater.log')"
if [ -f "$log" ]; then
  say "  The block of the whole update (the scene before):"
  # The block of the whole update (the scene before this one).
  tr -d '\r' <"$log" | awk '/^==== .* vskr_updater /{block=""} {block=block "    " $0 "\n"} /^==== the run took/{if (block ~ /Update 3/) last=block} END{printf "%s", last}'
else
  say "  (no log written)"
fi
