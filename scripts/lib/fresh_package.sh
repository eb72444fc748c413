# The --package variant of scripts/check-fresh, which sources this file: the Debian package, built on
# this machine, installed into the fresh root as a user installs it, run there, and removed again.
# Uses check-fresh's in_root, $root and $fresh.
# shellcheck shell=bash disable=SC2154  # root and fresh are check-fresh's

# build_package_for_fresh: builds build/ (the programs and the window test) and its package on this
# machine, checked by scripts/check-package; sets fresh_deb to the package's path.
build_package_for_fresh() {
  "$HALVARD_ROOT/scripts/install-deps" test
  log "building build/ and its Debian package"
  configure_build build -DHALVARD_BUILD_TESTS=ON
  build build
  fresh_deb="$("$HALVARD_ROOT/scripts/check-package" build | tail -n 1)"
  [ -f "$fresh_deb" ] || { echo "check-fresh (package): no package was made" >&2; return 1; }
}

# files_in_root: every path in the root, less the places that change by themselves (package
# manager state, caches, logs, home and scratch folders).
files_in_root() {
  in_root find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /run -o -path /tmp -o -path /root \
    -o -path /var/cache -o -path /var/lib/apt -o -path /var/lib/dpkg -o -path /var/log \) -prune -o -print | sort
}

# packages_in_root: the names of the packages installed in the root.
# shellcheck disable=SC2016  # dpkg-query's own format fields
packages_in_root() { in_root dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | awk '$1 == "ii" { print $2 }' | sort; }

# check_package_in_root: installs $fresh_deb into the root with apt-get, checks each program's
# --version, runs the window test on the installed editor under Xvfb, then removes and purges the
# package (and what came only with it) and checks that none of its files, nor any path named after
# it, is left.
check_package_in_root() {
  local version name status=0 program out left
  version="$(project_version)"
  name="$(basename "$fresh_deb")"
  cp "$fresh_deb" "$HALVARD_ROOT/build/tests/gui/editor_window_test" "$root/tmp/"

  log "installing the window test's display (xvfb, xauth) in the root"
  in_root sh -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends xvfb xauth >/dev/null'
  files_in_root >"$fresh/files-before-package.txt"
  packages_in_root >"$fresh/packages-before-package.txt"

  log "apt-get install ./$name in the root"
  if ! in_root sh -c "cd /tmp && DEBIAN_FRONTEND=noninteractive apt-get install -y -q ./$name"; then
    echo "check-fresh (package): apt-get install ./$name failed"
    return 1
  fi
  in_root dpkg -L halvard-editor | sort >"$fresh/package-files.txt"

  for program in halvard-editor halvard-amp-emulator halvard-cli; do
    if ! in_root test -e "/usr/bin/$program"; then
      [ "$program" = halvard-cli ] && continue  # not every build has it
      echo "check-fresh (package): /usr/bin/$program is not installed"
      status=1
      continue
    fi
    out="$(in_root "/usr/bin/$program" --version 2>&1 || true)"
    if [ "$out" = "$program $version" ]; then
      echo "check-fresh (package): $program --version prints \"$out\""
    else
      echo "check-fresh (package): $program --version prints \"$out\", not \"$program $version\""
      status=1
    fi
  done

  log "the installed editor's window under Xvfb in the root"
  if in_root env HALVARD_TEST_EDITOR=/usr/bin/halvard-editor \
    xvfb-run -a -s "-screen 0 1920x1200x24" /tmp/editor_window_test 2>&1 | tee "$fresh/window-package.log" &&
    grep -q '^\[  PASSED  \] 1 test' "$fresh/window-package.log" && ! grep -q SKIPPED "$fresh/window-package.log"; then
    echo "check-fresh (package): the installed editor showed its window and closed with exit code 0"
  else
    echo "check-fresh (package): the window test failed on the installed editor"
    status=1
  fi

  log "apt-get remove, then purge, halvard-editor in the root"
  in_root sh -c 'DEBIAN_FRONTEND=noninteractive apt-get remove -y -q halvard-editor >/dev/null'
  # shellcheck disable=SC2016  # the inner shell expands its own variable
  left="$(in_root sh -c 'while read -r f; do if [ -e "$f" ] && [ ! -d "$f" ]; then echo "$f"; fi; done' \
    <"$fresh/package-files.txt" | tr '\n' ' ')"
  if [ -n "$left" ]; then
    echo "check-fresh (package): apt-get remove left files of the package: $left"
    status=1
  else
    echo "check-fresh (package): apt-get remove left no file of the package"
  fi
  # (A package without configuration files is gone after remove; dpkg --purge then only says so.)
  in_root sh -c 'dpkg --purge halvard-editor >/dev/null 2>&1
    DEBIAN_FRONTEND=noninteractive apt-get autoremove --purge -y -q >/dev/null'
  files_in_root >"$fresh/files-after-package.txt"
  packages_in_root >"$fresh/packages-after-package.txt"
  # What is new in the root now belongs to packages that stay (apt keeps what an installed package
  # recommends, such as apt's ca-certificates) or was made by their scripts; none of it may be ours.
  comm -13 "$fresh/files-before-package.txt" "$fresh/files-after-package.txt" >"$fresh/files-left-package.txt"
  left="$(grep -i -e halvard -e "$(project_app_id)" "$fresh/files-left-package.txt" | tr '\n' ' ' || true)"
  if [ -n "$left" ]; then
    echo "check-fresh (package): after purge and autoremove, paths of the package are left: $left"
    status=1
  else
    echo "check-fresh (package): after purge and autoremove no path of the package is left" \
      "($(wc -l <"$fresh/files-left-package.txt") other new paths, of the packages that stayed:" \
      "$(comm -13 "$fresh/packages-before-package.txt" "$fresh/packages-after-package.txt" | tr '\n' ' '))"
  fi
  return "$status"
}
