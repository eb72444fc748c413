#!/usr/bin/env bash
# The Windows file and folder dialogs (IFileDialog under Wine, on the X display), answered from the
# X side as a user would: click into the name box, type a Z:\ path, Return; Escape cancels. And the
# question before a restore (a message box), answered by its keys.
#   file_dialog_win32_test.sh <win32_probe.exe> <wine-run> <wine prefix>
set -uo pipefail
# shellcheck source=find_window.sh
source "$(dirname "$0")/find_window.sh"
probe="$1"; shift
wine_run=("$@")
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
: >"$work/Room Mic.WAV"
: >"$work/programs.syx"
failures=0

windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# ask <probe mode> <dialog title> <keys...>: runs the probe, answers its dialog, prints its answer.
ask() {
  local mode="$1" title="$2"; shift 2
  "${wine_run[@]}" "$probe" "$mode" >"$work/out" 2>/dev/null &
  local pid=$! w
  w="$(find_window "$title")"
  if [ -n "$w" ] && [ "$mode" = confirm ]; then
    # The question box says when it is ready for keys; a fixed wait was too short on a busy machine.
    for _ in $(seq 1 300); do grep -q '^shown' "$work/out" && break; sleep 0.1; done
    "$@" "$w"
  elif [ -n "$w" ]; then
    sleep 1
    "$@" "$w"
  fi
  timeout 30 tail --pid="$pid" -f /dev/null || kill "$pid"
  wait "$pid" 2>/dev/null
  tr -d '\r' <"$work/out" | sed -n 's/^path=//p'
}

# Clicks into the dialog's name box (Wine's layout: at the bottom, left of the type list, above the
# buttons); keys then go to it (Xvfb has no window manager to give the dialog the focus).
click_name_box() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove --window "$1" $((WIDTH / 2 + 50)) $((HEIGHT - 44)) click 1
  sleep 0.3
}
# Types the path over whatever the box holds (a folder's name stays in it after navigating).
type_path() {
  local backspaces=()
  for _ in $(seq 1 60); do backspaces+=(BackSpace); done
  click_name_box "$2"
  xdotool key End
  xdotool key --delay 15 "${backspaces[@]}"
  xdotool type --delay 20 "$1"
  sleep 0.3
  xdotool key Return
}
cancel() {
  click_name_box "$1"
  xdotool key Escape
}

expect() {
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAILED: $1: got '$2', expected '$3'"; failures=$((failures + 1)); fi
}

wav="$(windows_path "$work/Room Mic.WAV")"
expect "a typed file comes back as its path" "$(ask wave 'Import IR' type_path "$wav")" "$wav"
expect "cancel gives an empty path" "$(ask wave 'Import IR' cancel)" ""
folder="$(windows_path "$work")"
expect "a typed folder comes back as its path" "$(ask folder 'Extract All IRs' type_path "$folder")" "$folder"
syx="$(windows_path "$work/programs.syx")"
expect "a typed SysEx file comes back as its path" "$(ask program 'Restore Programs' type_path "$syx")" "$syx"
backup="$(windows_path "$work/new backup.syx")"
expect "a typed name to save under comes back as its path" \
  "$(ask save 'Back Up All Programs' type_path "$backup")" "$backup"

# The question before a restore: its accept button by its key, and Return takes the default, Cancel.
# A click on its top (title and question, no button) gives it the keys first, as for the dialogs.
press() {
  eval "$(xdotool getwindowgeometry --shell "$2")"
  xdotool mousemove --window "$2" $((WIDTH / 2)) 12 click 1
  # The keys go to the X window with the focus: the box's, once the click has given it.
  for _ in $(seq 1 100); do [ "$(xdotool getwindowfocus 2>/dev/null)" = "$2" ] && break; sleep 0.1; done
  xdotool key "$1"
}
expect "the Restore button answers yes" "$(ask confirm 'Restore Programs' press alt+r)" "1"
expect "Return answers Cancel" "$(ask confirm 'Restore Programs' press Return)" "0"

# Shutdown at exit closes the open dialog and releases its worker; later requests are empty at once.
"${wine_run[@]}" "$probe" shutdown >"$work/out" 2>/dev/null
expect "shutdown closes the dialog" "$(tr -d '\r' <"$work/out" | sed -n 's/^path=//p')" ""
expect "after shutdown a request is cancelled" "$(tr -d '\r' <"$work/out" | grep -c '^after=$')" "1"

[ "$failures" -eq 0 ]
