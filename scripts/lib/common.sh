# Shared by the scripts: where things are, the build, and the services the tests need.
# shellcheck shell=bash

HALVARD_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
HALVARD_JOBS="${HALVARD_JOBS:-2}"

log() { printf '==> %s\n' "$*" >&2; }

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
# Sets JACK_DEFAULT_SERVER for everything started after it; stop_jack ends it by its process id.
HALVARD_JACK_PID=""
start_jack() {
  local name="halvard-test-$$-$RANDOM"
  local logfile="${TMPDIR:-/tmp}/$name.log"
  # -S (synchronous): the server waits for every client before it ends a cycle. Without it a client
  # that misses a cycle on a loaded machine (no realtime scheduling here) loses that cycle's MIDI
  # events, and a lost reply makes an end-to-end test fail by chance.
  jackd --no-realtime -S -n "$name" -d dummy -r 48000 -p 64 -C 0 -P 0 >"$logfile" 2>&1 &
  HALVARD_JACK_PID=$!
  export JACK_DEFAULT_SERVER="$name"
  export JACK_NO_START_SERVER=1
  local i
  for i in $(seq 1 100); do
    if JACK_DEFAULT_SERVER="$name" jack_lsp >/dev/null 2>&1; then
      log "JACK server '$name' is up (pid $HALVARD_JACK_PID)"
      return 0
    fi
    if ! kill -0 "$HALVARD_JACK_PID" 2>/dev/null; then break; fi
    sleep 0.1
  done
  log "JACK server did not start; its log:"; cat "$logfile" >&2
  return 1
}

stop_jack() {
  if [ -n "$HALVARD_JACK_PID" ]; then
    kill "$HALVARD_JACK_PID" 2>/dev/null || true
    wait "$HALVARD_JACK_PID" 2>/dev/null || true
    HALVARD_JACK_PID=""
  fi
}
