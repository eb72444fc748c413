# Shared by the scripts: where things are, the build, and the services the tests need.
# shellcheck shell=bash

HALVARD_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
HALVARD_JOBS="${HALVARD_JOBS:-2}"

log() { printf '==> %s\n' "$*" >&2; }

# usage_error <usage line>: a missing or bad argument; prints the usage line and exits with code 2.
usage_error() {
  printf 'usage: %s\n' "$*" >&2
  exit 2
}

# configure_build <dir> [cmake args...]: configures a Ninja tree once, then keeps its cache.
configure_build() {
  local dir="$1"; shift
  local werror=OFF
  [ -n "${CI:-}" ] && werror=ON
  cmake -S "$HALVARD_ROOT" -B "$HALVARD_ROOT/$dir" -G Ninja -DHALVARD_WERROR="$werror" "$@" >/dev/null
}

build() {
  local dir="$1"; shift
  cmake --build "$HALVARD_ROOT/$dir" -j "$HALVARD_JOBS" "$@"
}

# A private JACK server with the dummy backend: the MIDI stack of the end-to-end tests.
# Sets JACK_DEFAULT_SERVER (and JACK_NO_START_SERVER) for everything started after it; stop_jack
# ends it by its process id and gives both variables back the values they had before, so a shell
# that sourced this file is left as it was.
HALVARD_JACK_PID=""
HALVARD_JACK_SAVED_ENV=()   # NAME=VALUE for each variable that was set before start_jack, NAME if not
start_jack() {
  local attempt var
  if [ ${#HALVARD_JACK_SAVED_ENV[@]} -eq 0 ]; then
    for var in JACK_DEFAULT_SERVER JACK_NO_START_SERVER; do
      if [ -n "${!var+set}" ]; then HALVARD_JACK_SAVED_ENV+=("$var=${!var}"); else HALVARD_JACK_SAVED_ENV+=("$var"); fi
    done
  fi
  for attempt in 1 2; do
    if try_start_jack; then return 0; fi
    # JACK keeps its servers in a registry of eight slots and reclaims a dead server's slot only for
    # a server of the same name; servers that were killed without unregistering fill it for good
    # ("Too many servers already active"). With no JACK server alive the registry is stale, and
    # JACK makes a fresh one.
    if [ "$attempt" -eq 1 ] && grep -q "Too many servers" "$HALVARD_JACK_LOG" && ! jack_server_alive; then
      log "clearing JACK's stale server registry"
      rm -f /dev/shm/jack-shm-registry
      continue
    fi
    break
  done
  log "JACK server did not start; its log:"; cat "$HALVARD_JACK_LOG" >&2
  HALVARD_JACK_SAVED_ENV=()
  return 1
}

# True when any JACK server process runs on this machine (ours or not).
jack_server_alive() { grep -qx -e jackd -e jackdmp /proc/[0-9]*/comm 2>/dev/null; }

HALVARD_JACK_LOG=""
try_start_jack() {
  local name="halvard-test-$$-$RANDOM"
  HALVARD_JACK_LOG="${TMPDIR:-/tmp}/$name.log"
  # -S (synchronous): the server waits for every client before it ends a cycle. Without it a client
  # that misses a cycle on a loaded machine (no realtime scheduling here) loses that cycle's MIDI
  # events, and a lost reply makes an end-to-end test fail by chance.
  jackd --no-realtime -S -n "$name" -d dummy -r 48000 -p 64 -C 0 -P 0 >"$HALVARD_JACK_LOG" 2>&1 &
  HALVARD_JACK_PID=$!
  local _
  for _ in $(seq 1 100); do
    if JACK_DEFAULT_SERVER="$name" jack_lsp >/dev/null 2>&1; then
      log "JACK server '$name' is up (pid $HALVARD_JACK_PID)"
      export JACK_DEFAULT_SERVER="$name"
      export JACK_NO_START_SERVER=1
      return 0
    fi
    if ! kill -0 "$HALVARD_JACK_PID" 2>/dev/null; then break; fi
    sleep 0.1
  done
  kill "$HALVARD_JACK_PID" 2>/dev/null || true
  wait "$HALVARD_JACK_PID" 2>/dev/null || true
  HALVARD_JACK_PID=""
  return 1
}

stop_jack() {
  if [ -n "$HALVARD_JACK_PID" ]; then
    kill "$HALVARD_JACK_PID" 2>/dev/null || true
    wait "$HALVARD_JACK_PID" 2>/dev/null || true
    HALVARD_JACK_PID=""
  fi
  restore_jack_env
}

restore_jack_env() {
  local entry
  for entry in "${HALVARD_JACK_SAVED_ENV[@]}"; do
    if [[ "$entry" == *=* ]]; then export "${entry?}"; else unset "$entry"; fi
  done
  HALVARD_JACK_SAVED_ENV=()
}

# The version and the application id, as the top CMakeLists.txt sets them.
project_version() { sed -n 's/^project(halvard_editor VERSION \([0-9.]*\).*/\1/p' "$HALVARD_ROOT/CMakeLists.txt"; }
project_app_id() { sed -n 's/^set(HALVARD_APP_ID \([^ )]*\)).*/\1/p' "$HALVARD_ROOT/CMakeLists.txt"; }
