#!/usr/bin/env bash
# Every relative link of the documentation resolves: in README.md and docs/**/*.md, each markdown
# link or image, [text](path) or [text](path#anchor) (or (#anchor) within the file), names a file or
# folder that exists, and an anchor names a heading of the target file as GitHub makes anchors (lower
# case, spaces to '-', punctuation dropped, "-1", "-2" after a repeated heading). Code blocks and
# code spans are not read. Names each broken link and exits 1:
#   links.sh <source tree>
set -uo pipefail
root="${1:?usage: links.sh <source tree>}"
cd "$root" || exit 2
export LC_ALL=C

mapfile -t pages < <({ [ -f README.md ] && echo README.md; [ -d docs ] && find docs -type f -name '*.md' | sort; })
[ ${#pages[@]} -gt 0 ] || { echo "links.sh: no README.md or docs/*.md under $root" >&2; exit 2; }

# The lines of a markdown file outside its fenced code blocks, as "<line number>\t<text>", with its
# code spans taken out (prose FILE) or only their backquotes (prose FILE keep).
prose() {
  awk -v keep="${2:-}" '
    BEGIN { code = keep ? "`" : "`[^`]*`" }
    /^[ \t]*(```|~~~)/ { fenced = !fenced; next }
    fenced { next }
    { line = $0; gsub(code, "", line); printf "%d\t%s\n", NR, line }' "$1"
}

# The anchors of a markdown file's headings, one a line.
anchors() {
  prose "$1" keep | awk -F'\t' '
    $2 ~ /^ *#+([ \t]|$)/ {
      h = $2
      sub(/^ *#+[ \t]*/, "", h); sub(/[ \t]+#+[ \t]*$/, "", h)
      gsub(/!?\[/, "", h); gsub(/\]\([^)]*\)/, "", h)      # a link in a heading: its text
      h = tolower(h)
      # Punctuation, also the UTF-8 dashes, arrows, quotes and signs the documents use.
      gsub(/\342\200[\223\224\231\234\235\246]|\342\206\222|\342\226\270|\303\227|\302[\260\267]/, "", h)
      gsub(/[^a-z0-9_ \200-\377-]/, "", h)
      gsub(/ /, "-", h)
      n = seen[h]++
      print (n ? h "-" n : h)
    }'
}

broken=0
links=0
for page in "${pages[@]}"; do
  dir="$(dirname "$page")"
  while IFS=$'\t' read -r line target; do
    links=$((links + 1))
    path="${target%%#*}"
    anchor=""
    [[ "$target" == *"#"* ]] && anchor="${target#*#}"
    file="$page"
    if [ -n "$path" ]; then
      file="$dir/${path//%20/ }"
      [[ "$path" == /* ]] && file=".$path"
    fi
    ok=1
    if [ ! -e "$file" ]; then
      ok=0
    elif [ -n "$anchor" ]; then
      if [[ "$file" == *.md ]]; then
        anchors "$file" | grep -qxF -- "$anchor" || ok=0
      else
        [[ "$anchor" =~ ^L[0-9]+(-L[0-9]+)?$ ]] || ok=0   # a line of a source file
      fi
    fi
    if [ "$ok" = 0 ]; then
      printf '%s:%s: %s\n' "$page" "$line" "$target"
      broken=$((broken + 1))
    fi
  done < <(prose "$page" | awk -F'\t' '
    {
      rest = $2
      while (match(rest, /\]\([^) \t]+([ \t]+"[^"]*")?\)/)) {
        t = substr(rest, RSTART + 2, RLENGTH - 3)
        rest = substr(rest, RSTART + RLENGTH)
        sub(/[ \t].*/, "", t); sub(/^</, "", t); sub(/>$/, "", t)
        if (t ~ /^[a-zA-Z][a-zA-Z0-9+.-]*:/) continue   # https:, mailto: and the like
        printf "%d\t%s\n", $1, t
      }
    }')
done

if [ "$broken" -gt 0 ]; then
  echo "links: $broken of $links relative links broken"
  exit 1
fi
echo "links: ${#pages[@]} pages, $links relative links, all resolve"
