# Shared by the Windows dialog and menu tests.
# shellcheck shell=bash

# find_window <title>: the id of the first visible X window titled exactly <title>, waiting up to
# 60 s; empty if none came. One search at a time: Wine makes and drops short-lived windows while a
# dialog opens, and a single `xdotool search --sync` dies with BadWindow when one goes mid-search.
find_window() {
  local w="" _
  for _ in $(seq 1 300); do
    w="$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1)"
    [ -n "$w" ] && break
    sleep 0.2
  done
  printf '%s' "$w"
}
