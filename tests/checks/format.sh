#!/usr/bin/env bash
# The C++ sources are as clang-format writes them (.clang-format at the root).
#   format.sh <source tree> <clang-format>
set -euo pipefail
cd "$1"
git ls-files -z -- '*.cpp' '*.hpp' '*.h' | xargs -0 "$2" --dry-run --Werror
echo "format: $(git ls-files -- '*.cpp' '*.hpp' '*.h' | wc -l) files as clang-format writes them"
