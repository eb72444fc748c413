#!/usr/bin/env bash
# The editor's right-click menu on Windows (a TrackPopupMenu under Wine, on the X display): the keys
# pick an item, in the menu or in the kept backups' submenu, and its index comes back; Escape
# dismisses it and nothing is chosen.
#   context_menu_win32_test.sh <win32_probe.exe> <wine-run> <wine prefix>
set -uo pipefail
# shellcheck source=find_window.sh
source "$(dirname "$0")/find_window.sh"
probe="$1"; shift
wine_run=("$@")
out="$(mktemp)"
trap 'rm -f "$out"' EXIT
failures=0

# pick <keys...>: opens the menu, presses the keys once it is up, prints the probe's answer.
pick() {
  "${wine_run[@]}" "$probe" menu >"$out" 2>/dev/null &
  local pid=$! w
  w="$(find_window "Halvard Editor")"
  if [ -n "$w" ]; then
    sleep 1.5
    for key in "$@"; do xdotool key "$key"; sleep 0.2; done
  fi
  timeout 30 tail --pid="$pid" -f /dev/null || kill "$pid"
  wait "$pid" 2>/dev/null
  tr -d '\r' <"$out" | sed -n 's/^chosen=//p'
}

expect() {
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAILED: $1: got '$2', expected '$3'"; failures=$((failures + 1)); fi
}

expect "the second item picked with the keys" "$(pick Down Down Return)" "1"
expect "the older kept backup from the submenu" "$(pick Down Down Down Right Down Return)" "4"
expect "Escape picks nothing" "$(pick Escape)" "-1"
[ "$failures" -eq 0 ]
