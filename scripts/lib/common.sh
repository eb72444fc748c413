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

# A private JACK server for a session by hand (the tests have CTest start theirs): scripts/test-service
# runs it. Sets JACK_DEFAULT_SERVER (and JACK_NO_START_SERVER) for everything started after it;
# stop_jack ends it and gives both variables back the values they had before, so a shell that
# sourced this file is left as it was.
HALVARD_JACK_DIR=""
HALVARD_JACK_SAVED_ENV=()   # NAME=VALUE for each variable that was set before start_jack, NAME if not
start_jack() {
  local var name="halvard-$$-$RANDOM"
  if [ ${#HALVARD_JACK_SAVED_ENV[@]} -eq 0 ]; then
    for var in JACK_DEFAULT_SERVER JACK_NO_START_SERVER; do
      if [ -n "${!var+set}" ]; then HALVARD_JACK_SAVED_ENV+=("$var=${!var}"); else HALVARD_JACK_SAVED_ENV+=("$var"); fi
    done
  fi
  HALVARD_JACK_DIR="$(mktemp -d "${TMPDIR:-/tmp}/$name.XXXXXX")"
  if ! "$HALVARD_ROOT/scripts/test-service" start jack "$name" "$HALVARD_JACK_DIR"; then
    HALVARD_JACK_SAVED_ENV=()
    return 1
  fi
  export JACK_DEFAULT_SERVER="$name"
  export JACK_NO_START_SERVER=1
}

# True when any JACK server process runs on this machine (ours or not), jackdbus's included.
jack_server_alive() { grep -qx -e jackd -e jackdmp -e jackdbus /proc/[0-9]*/comm 2>/dev/null; }

stop_jack() {
  if [ -n "$HALVARD_JACK_DIR" ]; then
    "$HALVARD_ROOT/scripts/test-service" stop jack "$HALVARD_JACK_DIR"
    rm -rf "$HALVARD_JACK_DIR"
    HALVARD_JACK_DIR=""
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

# apt_deb_sources: this machine's enabled binary package sources (deb), from its sources.list-style
# lines and its deb822 .sources stanzas alike, one line per URI and suite:
#   URI <tab> SUITE <tab> COMPONENTS <tab> OPTIONS     (OPTIONS as in a one-line entry's [...])
# A deb822 option that a one-line entry cannot carry (a key written inline) is left out.
apt_deb_sources() {
  local list="" parts="" f
  eval "$(apt-config shell list Dir::Etc::sourcelist/f parts Dir::Etc::sourceparts/d)"
  for f in "$list" "${parts%/}"/*.list; do
    [ -f "$f" ] || continue
    awk '$1 == "deb" {
        options = ""; i = 2
        if ($i ~ /^\[/) {
          while ($i !~ /\]$/) { options = options " " $i; i++ }
          options = options " " $i; i++
          gsub(/^ *\[ *| *\] *$/, "", options)
        }
        components = ""
        for (c = i + 2; c <= NF && $c !~ /^#/; c++) components = components (components == "" ? "" : " ") $c
        printf "%s\t%s\t%s\t%s\n", $i, $(i + 1), components, options
      }' "$f"
  done
  for f in "${parts%/}"/*.sources; do
    [ -f "$f" ] || continue
    awk '
      BEGIN { RS = ""; FS = "\n" }
      {
        types = ""; uris = ""; suites = ""; components = ""; options = ""; enabled = "yes"
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^[#[:space:]]/ || index($i, ":") == 0) continue
          key = tolower(substr($i, 1, index($i, ":") - 1)); value = substr($i, index($i, ":") + 1)
          gsub(/^[ \t]+|[ \t]+$/, "", value)
          if (key == "types") types = value; else if (key == "uris") uris = value
          else if (key == "suites") suites = value; else if (key == "components") components = value
          else if (key == "enabled") enabled = tolower(value)
          else if (value != "") {
            if (key == "architectures") key = "arch"; else if (key == "languages") key = "lang"
            else if (key == "targets") key = "target"
            gsub(/[ \t]+/, ",", value)
            options = options (options == "" ? "" : " ") key "=" value
          }
        }
        if (enabled ~ /no/ || (" " types " ") !~ /[[:space:]]deb[[:space:]]/) next
        n = split(uris, u, " "); m = split(suites, s, " ")
        for (a = 1; a <= n; a++) for (b = 1; b <= m; b++) printf "%s\t%s\t%s\t%s\n", u[a], s[b], components, options
      }' "$f"
  done
}

# The version and the application id, as the top CMakeLists.txt sets them.
project_version() { sed -n 's/^project(halvard_editor VERSION \([0-9.]*\).*/\1/p' "$HALVARD_ROOT/CMakeLists.txt"; }
project_app_id() { sed -n 's/^set(HALVARD_APP_ID \([^ )]*\)).*/\1/p' "$HALVARD_ROOT/CMakeLists.txt"; }
