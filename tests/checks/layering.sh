#!/usr/bin/env bash
# Holds every #include of the program to one table of what each folder may use, and names each line
# that breaks it (with the rule):
#   layering.sh <source tree>
# The compiler alone cannot: every library's include directory is the source root, where headers are
# named "layer/file.hpp".
set -uo pipefail
root="${1:?usage: layering.sh <source tree>}"
cd "$root" || exit 2

# The layers of the program, bottom up: what each folder may include from the project.
declare -A may_use=(
  [util]="util"
  [model]="model util"
  [ir]="ir util"
  [program_library]="program_library model util"
  [device]="device program_library model ir util"
  [ui]="ui model ir util"
  [app]="app device ui model ir util"
  [cli]="cli device program_library ir model util"
)

# The rooms of device/, bottom up: what each may include of device/ (the order docs/developers.md
# explains). The transfers (ir_transfer, firmware, librarian) stand side by side and do not use one
# another; the worker sequences them all.
declare -A room_may_use=(
  [link]="link"
  [protocol]="protocol link"
  [ir_transfer]="ir_transfer protocol link"
  [firmware]="firmware protocol link"
  [librarian]="librarian protocol link"
  [worker]="worker ir_transfer firmware librarian protocol link"
)

# The platform back ends: folders whose headers only they (and the back ends named here after them)
# may include.
declare -A backend_users=(
  [app/gtk]="" [app/win32]=""
  [ui/cairo]="app/gtk" [ui/d2d]="app/win32"
  [device/link/alsa_jack]="" [device/link/jack]="device/link/alsa_jack" [device/link/winmm]=""
  [device/link/rtmidi]="device/link/alsa_jack device/link/winmm"
  [device/link/posix]="" [device/link/windows]=""
  [device/firmware/curl]="" [device/firmware/winhttp]="" [util/posix]="" [util/windows]=""
)

# The system's and third parties' headers that belong to one back end (or library): a pattern of the
# included name, and the folders that may include it.
platform_headers=(
  "^(gtk|gdk|gio|atk)/|^glib|^X11/       app/gtk"
  "^(cairo|pango)                        ui/cairo"
  "^(d2d1|dwrite|wincodec)               ui/d2d app/win32"
  "^(windows|windowsx|shellapi|shobjidl|winuser)\.h|^wrl/   app/win32 ui/d2d device/link/winmm device/link/windows device/firmware/winhttp util/windows"
  "^mmsystem\.h                          device/link/winmm device/link/windows"
  "^oleacc\.h                            app/win32"
  "^(winhttp|winsock2|ws2tcpip)\.h       device/firmware/winhttp"
  "^alsa/                                device/link/alsa_jack"
  "^jack/                                device/link/jack device/link/alsa_jack"
  "^rtmidi/|^RtMidi\.h                   device/link/rtmidi device/link/alsa_jack device/link/winmm"
  "^curl/                                device/firmware/curl"
  "^sndfile\.h                           ir"
  "^sqlite3\.h                           program_library"
)

# The back-end folder a file lives in ("" if none).
backend_of() {
  local dir="${1%/*}" b
  for b in "${!backend_users[@]}"; do
    [[ "$dir" == "$b" || "$dir" == "$b"/* ]] && { echo "$b"; return; }
  done
}

# The room of device/ a path lies in: device/<room>/... ("" for a file of device/ itself).
room_of() {
  local rest="${1#device/}"
  [[ "$rest" == */* ]] && echo "${rest%%/*}"
}

# in_list <word> <list of words>
in_list() { [[ -n "$1" && " $2 " == *" $1 "* ]]; }

violations=0
violation() {
  printf '%s:%s: %s: %s\n' "$1" "$2" "$3" "$4"
  violations=$((violations + 1))
}

folders=(util model ir program_library device ui app cli tests bench tools)
mapfile -t files < <(for f in "${folders[@]}"; do [ -d "$f" ] && find "$f" -type f \( -name '*.cpp' -o -name '*.hpp' -o -name '*.h' \); done | sort)
[ ${#files[@]} -gt 0 ] || { echo "layering.sh: no sources under $root" >&2; exit 2; }

while IFS=$'\t' read -r file line text name; do
  top="${file%%/*}"
  if [[ "$name" == ../* ]]; then
    violation "$file" "$line" "$text" "a relative include reaches into another folder; name the header from the source root"
    continue
  fi
  if [[ "$name" == tests/* ]]; then
    violation "$file" "$line" "$text" "tests/ headers are no one's to include by path; tests and benchmarks share code through the support libraries (tests/support)"
    continue
  fi
  [ -n "${may_use[$top]+x}" ] || continue   # tests, benchmarks and tools: any public header
  own="$(backend_of "$file")"
  if [[ "$text" == *'"'* && "$name" == */* ]]; then
    layer="${name%%/*}"
    if [ -n "${may_use[$layer]+x}" ] && ! in_list "$layer" "${may_use[$top]}"; then
      violation "$file" "$line" "$text" "$top may include only ${may_use[$top]// /, } (the layers below it)"
      continue
    fi
    if [ "$top" = device ] && [ "$layer" = device ]; then
      room="$(room_of "$file")" to="$(room_of "$name")"
      if [ -z "${room_may_use[$room]+x}" ]; then
        violation "$file" "$line" "$text" "device/ holds its code in rooms: ${!room_may_use[*]}"
        continue
      fi
      if ! in_list "$to" "${room_may_use[$room]}"; then
        violation "$file" "$line" "$text" "device/$room may include only device/${room_may_use[$room]// /, device/} (the rooms below it)"
        continue
      fi
    fi
    target="$(backend_of "$name")"
    if [ -n "$target" ] && [ "$target" != "$own" ] && ! in_list "$own" "${backend_users[$target]}"; then
      violation "$file" "$line" "$text" "$target is a back end: its headers stay inside it${backend_users[$target]:+ (and ${backend_users[$target]})}"
    fi
    continue
  fi
  for entry in "${platform_headers[@]}"; do
    read -r pattern owners <<<"$entry"
    [[ "$name" =~ $pattern ]] || continue
    if ! in_list "$own" "$owners" && ! in_list "$top" "$owners"; then
      violation "$file" "$line" "$text" "only ${owners// /, } may include <$name> (platform headers stay in their back end)"
    fi
  done
done < <(awk '
  match($0, /^[ \t]*#[ \t]*include[ \t]*[<"][^>"]+[>"]/) {
    text = substr($0, RSTART, RLENGTH); sub(/^[ \t]*#[ \t]*/, "#", text); sub(/include[ \t]*/, "include ", text)
    name = text; sub(/^#include [<"]/, "", name); sub(/[>"]$/, "", name)
    printf "%s\t%d\t%s\t%s\n", FILENAME, FNR, text, name
  }' "${files[@]}")

if [ "$violations" -gt 0 ]; then
  echo "layering: $violations include(s) against the layers (the table is in tests/checks/layering.sh)"
  exit 1
fi
echo "layering: ${#files[@]} files, every include within its layer"
