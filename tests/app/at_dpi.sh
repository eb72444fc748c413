#!/usr/bin/env bash
# Runs a Windows program with the Wine desktop at another DPI (LogPixels in the prefix, which every
# process reads when it starts), then sets 96 DPI back.
#   at_dpi.sh <dpi> <program.exe> <wine-run> <wine prefix>
set -uo pipefail
dpi="$1" program="$2"
shift 2
wine_run=("$@")
set_dpi() {
  "${wine_run[@]}" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}
set_dpi "$dpi" || { echo "at_dpi.sh: cannot set the desktop to $dpi DPI" >&2; exit 1; }
"${wine_run[@]}" "$program"
status=$?
set_dpi 96
exit "$status"
