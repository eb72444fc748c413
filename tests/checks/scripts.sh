#!/usr/bin/env bash
# Every shell script of the project parses, and shellcheck has nothing to say about any of them.
#   scripts.sh <source tree> <shellcheck>
set -euo pipefail
cd "$1"
mapfile -t files < <(git ls-files -- '*.sh' .ci/run scripts/ | sort -u)
for f in "${files[@]}"; do
  [ -f "$f" ] || continue
  bash -n "$f"
done
"$2" -x "${files[@]}"
echo "scripts: ${#files[@]} scripts parse and pass shellcheck"
