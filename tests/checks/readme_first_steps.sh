#!/usr/bin/env bash
# The README's "First steps with the emulator" as a new user runs them: in a fresh clone of the
# tree's committed state, its first code block's commands, each as written (a comment after "#"
# aside): ./scripts/run must build everything the later lines use and start the editor, the
# emulator must start, and halvard-cli must read the emulator. Needs the display and JACK fixtures
# (DISPLAY, JACK_DEFAULT_SERVER); compiles through ccache when CMAKE_CXX_COMPILER_LAUNCHER says so.
#   readme_first_steps.sh SOURCE_TREE WORK_DIR
set -euo pipefail
source_tree=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
git clone -q "$source_tree" "$work/clone"
cd "$work/clone"

# The first sh block after the heading, one command a line.
mapfile -t steps < <(awk '/^## First steps with the emulator/ {found = 1}
  found && /^```sh/ {inside = 1; next}
  inside && /^```/ {exit}
  inside {sub(/[ \t]+#.*$/, ""); print}' README.md)
[ "${#steps[@]}" -eq 3 ] || { echo "expected 3 commands in the README's first steps, found ${#steps[@]}" >&2; exit 1; }
printf 'step: %s\n' "${steps[@]}"

pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill -- "-$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

# 1. Builds and starts the editor (scripts/run execs it), in a process group of its own.
setsid bash -c "${steps[0]}" >"$work/run.log" 2>&1 &
pids+=($!)
run=$!
# The build is done once the editor's window is there; a failed build ends the script.
until xdotool search --name '^Halvard Editor$' >/dev/null 2>&1; do
  kill -0 "$run" 2>/dev/null || { echo "./scripts/run ended:" >&2; tail -30 "$work/run.log" >&2; exit 1; }
  sleep 0.5
done

# 2. The emulator, its control channel held open.
setsid bash -c "sleep 600 | ${steps[1]}" >"$work/emulator.log" 2>&1 &
pids+=($!)

# 3. halvard-cli reads it once its ports are there (until then: no amplifier, exit code 1).
for _ in $(seq 1 100); do
  if bash -c "${steps[2]}" >"$work/cli.out" 2>"$work/cli.err"; then break; fi
  sleep 0.2
done
cat "$work/cli.out"
grep -qx 'firmware  1.7' "$work/cli.out" || { echo "halvard-cli did not read the emulator:" >&2; cat "$work/cli.err" "$work/emulator.log" >&2; exit 1; }
grep -qx 'slot 3    CLEAN' "$work/cli.out" || { echo "no slot name from --slot-name" >&2; exit 1; }
echo "the README's first steps ran"
