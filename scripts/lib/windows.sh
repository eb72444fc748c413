# The Windows build, cross-compiled on Debian and tested under Wine (sourced after common.sh).
#   windows_deps        RtMidi, libsndfile, GoogleTest, nlohmann-json and SQLite from Debian's source
#                       packages, built as static MinGW libraries into build-windows/deps/prefix (once;
#                       later runs cost nothing)
#   configure_windows   the build-windows/ tree (needs build/ for the build-time generators)
#   start_wine, stop_wine   the private Wine prefix and one wineserver for a whole test run
#   install_wine_midi_driver   the test prefix's MIDI driver (scripts/wine-run --jack-midi)
# shellcheck shell=bash

HALVARD_WIN_TREE="build-windows"
HALVARD_WIN_DEPS="$HALVARD_ROOT/$HALVARD_WIN_TREE/deps"
HALVARD_WIN_PREFIX="$HALVARD_WIN_DEPS/prefix"
HALVARD_WIN_TOOLCHAIN="$HALVARD_ROOT/cmake/mingw-w64-x86_64.cmake"
HALVARD_WINEPREFIX="${HALVARD_WINEPREFIX:-$HALVARD_ROOT/$HALVARD_WIN_TREE/wine}"

# Debian source package and the CMake options of its Windows build. Only RtMidi's WinMM API; no
# external codecs, programs or tests in libsndfile.
HALVARD_WIN_LIBRARIES=(rtmidi libsndfile googletest nlohmann-json3 sqlite3)
windows_library_options() {
  case "$1" in
    nlohmann-json3) echo "-DJSON_BuildTests=OFF -DJSON_Install=ON" ;;
    # Not CMake: its amalgamation, made with the build machine's tools and compiled once (below).
    sqlite3) echo "-DSQLITE_OMIT_LOAD_EXTENSION -DSQLITE_THREADSAFE=1" ;;
    rtmidi) echo "-DRTMIDI_API_WINMM=ON -DRTMIDI_API_ALSA=OFF -DRTMIDI_API_JACK=OFF -DRTMIDI_API_CORE=OFF -DRTMIDI_BUILD_TESTING=OFF" ;;
    libsndfile) echo "-DENABLE_EXTERNAL_LIBS=OFF -DENABLE_MPEG=OFF -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DENABLE_CPACK=OFF -DINSTALL_MANPAGES=OFF" ;;
    googletest) echo "-DBUILD_GMOCK=ON -DINSTALL_GTEST=ON" ;;
  esac
}

# The stamp of one library's build: its options and the toolchain file, so that a change to either
# builds it again.
windows_library_stamp() {
  local sum
  sum="$( { windows_library_options "$1"; cat "$HALVARD_WIN_TOOLCHAIN"; } | md5sum | cut -c1-12)"
  echo "$HALVARD_WIN_PREFIX/.built/$1-$sum"
}

# deb-src entries for this machine's own Debian archive, written into a private apt configuration:
# every deb source of the system for this release becomes a deb-src entry with the same options.
# Nothing of the system's apt configuration is changed.
write_source_entries() {
  local out="$1" codename
  # shellcheck source=/dev/null
  codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
  mkdir -p "$out"
  rm -f "$out"/*
  apt_deb_sources | awk -F '\t' -v codename="$codename" 'codename == "" || index($2, codename) == 1 {
      printf "deb-src %s%s %s %s\n", ($4 == "" ? "" : "[" $4 "] "), $1, $2, $3
    }' >"$out/system.list"
}

# Fetches and unpacks (Debian patches applied) the source packages into <dir>/<package>.
fetch_sources() {
  local dir="$1"; shift
  local apt_dir="$HALVARD_WIN_DEPS/apt"
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$dir"
  write_source_entries "$apt_dir/sources.list.d"
  local apt_opts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache" -o APT::Sandbox::User="$(id -un)")
  apt-get "${apt_opts[@]}" -qq update
  local p dsc
  for p in "$@"; do
    rm -rf "${dir:?}/$p" "$dir/$p"_*
    (cd "$dir" && apt-get "${apt_opts[@]}" -qq --download-only source "$p" >/dev/null)
    dsc="$(ls "$dir/$p"_*.dsc)"
    log "unpacking $(basename "$dsc")"
    dpkg-source --no-check -x "$dsc" "$dir/$p" >/dev/null
  done
}

windows_deps() {
  local missing=() p
  for p in "${HALVARD_WIN_LIBRARIES[@]}"; do
    [ -e "$(windows_library_stamp "$p")" ] || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  log "building for Windows from Debian's source packages: ${missing[*]}"
  local src="$HALVARD_WIN_DEPS/src"
  fetch_sources "$src" "${missing[@]}"
  local options
  for p in "${missing[@]}"; do
    read -r -a options <<<"$(windows_library_options "$p")"
    rm -rf "$HALVARD_WIN_DEPS/build/$p"
    if [ "$p" = sqlite3 ]; then
      build_windows_sqlite "$src/$p" "$HALVARD_WIN_DEPS/build/$p" "${options[@]}"
    else
      cmake -S "$src/$p" -B "$HALVARD_WIN_DEPS/build/$p" -G Ninja -Wno-dev \
        -DCMAKE_TOOLCHAIN_FILE="$HALVARD_WIN_TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$HALVARD_WIN_PREFIX" -DBUILD_SHARED_LIBS=OFF "${options[@]}" >/dev/null
      cmake --build "$HALVARD_WIN_DEPS/build/$p" -j "$HALVARD_JOBS" >/dev/null
      cmake --install "$HALVARD_WIN_DEPS/build/$p" >/dev/null
    fi
    mkdir -p "$HALVARD_WIN_PREFIX/.built"
    rm -f "$HALVARD_WIN_PREFIX/.built/$p"-*
    touch "$(windows_library_stamp "$p")"
    rm -rf "${HALVARD_WIN_DEPS:?}/build/$p" "${src:?}/$p" "$src/$p"_*
    log "built $p for Windows"
  done
}

# build_windows_sqlite <source> <build dir> <defines...>: SQLite's source tree makes its one-file
# amalgamation (sqlite3.c) with tools it compiles and runs on this machine (and tclsh); that file is
# compiled with MinGW into a static libsqlite3.a, installed with sqlite3.h into the prefix.
build_windows_sqlite() {
  local source="$1" dir="$2"
  shift 2
  mkdir -p "$dir"
  (cd "$dir" && "$source/configure" --disable-tcl >/dev/null && make sqlite3.c >/dev/null)
  x86_64-w64-mingw32-gcc-posix -O2 -DNDEBUG "$@" -c "$dir/sqlite3.c" -o "$dir/sqlite3.o"
  x86_64-w64-mingw32-gcc-ar-posix rcs "$dir/libsqlite3.a" "$dir/sqlite3.o"
  mkdir -p "$HALVARD_WIN_PREFIX/include" "$HALVARD_WIN_PREFIX/lib"
  cp "$dir/sqlite3.h" "$dir/sqlite3ext.h" "$HALVARD_WIN_PREFIX/include/"
  cp "$dir/libsqlite3.a" "$HALVARD_WIN_PREFIX/lib/"
}

# The build-windows/ tree (the windows preset): the libraries above, and the generators of the
# native build/ tree (they run on this machine, not under Wine).
configure_windows() {
  windows_deps
  cmake --preset windows >/dev/null
}

# Every Wine call of the project: the private prefix, no debug output (nor the hint about the
# missing 32-bit part), neither Mono nor Gecko offered for installation, and no menu builder (it
# would copy the installer's shortcuts into the desktop's menus, in the real home folder).
wine_environment() {
  export WINEPREFIX="$HALVARD_WINEPREFIX" WINEARCH=win64 WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
}

# Makes the prefix once (about 12 s), under a lock so that tests started together wait for one
# another. DirectWrite under Wine knows only the Linux fonts and draws nothing at all in a family
# it does not know, so Segoe UI is replaced by Open Sans.
prepare_wine_prefix() {
  [ -e "$WINEPREFIX/.halvard-ready" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    [ -e "$WINEPREFIX/.halvard-ready" ] && exit 0
    log "making the Wine prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    wine wineboot -u >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Segoe UI' /t REG_SZ /d 'Open Sans' /f \
      >/dev/null 2>&1
    # The server writes the registry out when it ends, a few seconds after its last client.
    wineserver -w
    touch "$WINEPREFIX/.halvard-ready"
  ) 9>"$WINEPREFIX.lock"
}

# One persistent wineserver for a whole run: without it every test process pays 0.4 to 2.7 s of
# Wine start-up, with it some 20 ms. stop_wine ends it (and every Wine process of the prefix).
HALVARD_WINE_STARTED=0
start_wine() {
  wine_environment
  prepare_wine_prefix
  wineserver -p </dev/null >/dev/null 2>&1 || true
  HALVARD_WINE_STARTED=1
  wine wineboot </dev/null >/dev/null 2>&1
}

stop_wine() {
  [ "$HALVARD_WINE_STARTED" -eq 1 ] || return 0
  WINEPREFIX="$HALVARD_WINEPREFIX" wineserver -k 2>/dev/null || true
  HALVARD_WINE_STARTED=0
}

# The desktop's DPI in the prefix (LogPixels), for the processes started after it.
set_wine_dpi() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}

# new_wine_midi_token: prints a random token (32 hex digits) for the Wine MIDI bridge and its driver.
new_wine_midi_token() {
  od -An -N16 -tx1 /dev/urandom | tr -d ' \n'
}

# The MIDI driver of wine-run --jack-midi, in the prefix: the DLL in system32 (replaced by a rename,
# never rewritten in place, as running programs may have it loaded) and listed first among the
# drivers mmdevapi considers. It offers itself only to a program that is given a bridge, so every
# other program of the prefix gets Wine's own drivers as before.
install_wine_midi_driver() {
  local driver="$1" target="$WINEPREFIX/drive_c/windows/system32/winehalvardmidi.drv"
  if [ ! -f "$driver" ]; then
    echo "wine-run: no MIDI driver at $driver (build $HALVARD_WIN_TREE/ first)" >&2
    return 1
  fi
  if ! cmp -s "$driver" "$target"; then
    cp "$driver" "$target.$$"
    mv -f "$target.$$" "$target"
  fi
  wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /t REG_SZ /d 'halvardmidi,pulse,alsa,oss,coreaudio' /f \
    </dev/null >/dev/null 2>&1
}
