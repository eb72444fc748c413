#!/usr/bin/env bash
# The installer in a Wine prefix: a silent install with /PATH puts the editor and halvard-cli under
# Program Files with a Start-menu shortcut, an uninstall entry and the folder on the user's PATH;
# the installed editor starts and shows its window, the installed halvard-cli answers; a silent
# uninstall removes every file, the shortcut, the entry and the PATH's folder.
#   installer_test.sh <halvard-editor-setup-*.exe> <wine-run> <wine prefix>
set -uo pipefail
# shellcheck source=../../tests/app/find_window.sh
source "$(dirname "$0")/../../tests/app/find_window.sh"
installer="$1"; shift
wine_run=("$@")
prefix="${!#}"
dir="$prefix/drive_c/Program Files/Halvard Editor"
shortcut="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Halvard Editor.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\HalvardEditor'
failures=0
# check <what> <command...>: runs the command and counts a failure when it fails.
check() {
  local what="$1"; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
registered() { "${wine_run[@]}" reg query "$key" /v DisplayVersion 2>/dev/null | grep -q REG_SZ; }
installed() { [ -f "$dir/halvard-editor.exe" ] && [ -f "$dir/halvard-cli.exe" ] && [ -f "$dir/Uninstall.exe" ]; }
on_path() { "${wine_run[@]}" reg query 'HKCU\Environment' /v Path 2>/dev/null | grep -qiF 'Program Files\Halvard Editor'; }
cli_answers() { "${wine_run[@]}" 'C:\Program Files\Halvard Editor\halvard-cli.exe' --version | grep -q '^halvard-cli '; }
window_opens() { [ -n "$(find_window "Halvard Editor")" ]; }

"${wine_run[@]}" "$installer" /S /PATH
check "the installer exits with 0" test $? -eq 0
check "the editor and halvard-cli are under Program Files" installed
check "the folder is on the user's PATH (/PATH)" on_path
check "the installed halvard-cli answers" cli_answers
check "the Start menu has a shortcut" test -f "$shortcut"
check "Windows lists it for uninstalling" registered

# The installed editor starts and opens its window; taskkill (without /F) asks it to close.
"${wine_run[@]}" 'C:\Program Files\Halvard Editor\halvard-editor.exe' &
editor=$!
check "the installed editor opens its window" window_opens
"${wine_run[@]}" taskkill /IM halvard-editor.exe >/dev/null 2>&1
timeout 30 tail --pid="$editor" -f /dev/null || kill "$editor" 2>/dev/null
wait "$editor"
check "the installed editor ends with 0 when asked to close" test $? -eq 0

# The uninstaller copies itself away and runs from there, so that it can remove itself too: wait for
# the folder to go.
"${wine_run[@]}" 'C:\Program Files\Halvard Editor\Uninstall.exe' /S
for _ in $(seq 1 150); do [ -e "$dir" ] || break; sleep 0.2; done
check "the uninstaller removes the folder and every file" test ! -e "$dir"
check "and the shortcut" test ! -e "$shortcut"
unregistered() { ! registered; }
check "and the uninstall entry" unregistered
off_path() { ! on_path; }
check "and the folder leaves the PATH" off_path

[ "$failures" -eq 0 ]
