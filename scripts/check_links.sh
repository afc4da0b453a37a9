#!/bin/sh
# SPDX-License-Identifier: MIT
# Checks every relative link of README.md and docs/*.md: the file or folder it
# names exists, and a #fragment names a heading of the Markdown file it points
# to (the anchor a Markdown renderer makes: lower case, spaces to hyphens,
# other characters dropped, -1, -2, ... on repeats; ASCII headings). Links
# with a scheme (https:, mailto:) and links inside code are not checked.
# Run by ctest (docs.links).
#   sh scripts/check_links.sh [FILE.md...]
set -eu
if [ $# -eq 0 ]; then
  cd "$(dirname "$0")/.."
  set -- README.md docs/*.md
fi

# file<TAB>line<TAB>target for every link of the Markdown files given.
links() {
  awk '
    FNR == 1 { fence = 0 }
    /^[ \t]*(```|~~~)/ { fence = !fence; next }
    fence || /^(    |\t)/ { next }
    {
      line = $0
      gsub(/`[^`]*`/, "", line)  # code spans hold no links
      # Reference definitions: [label]: target
      if (match(line, /^ ? ? ?\[[^]]+\]:[ \t]*[^ \t]+/)) {
        def = substr(line, RSTART, RLENGTH)
        sub(/^ ? ? ?\[[^]]+\]:[ \t]*/, "", def)
        gsub(/^<|>$/, "", def)
        print FILENAME "\t" FNR "\t" def
        next
      }
      while (match(line, /\]\([^)]*\)/)) {
        target = substr(line, RSTART + 2, RLENGTH - 3)
        line = substr(line, RSTART + RLENGTH)
        sub(/^[ \t]+/, "", target)
        sub(/[ \t].*$/, "", target)  # a "title" after the target
        gsub(/^<|>$/, "", target)
        print FILENAME "\t" FNR "\t" target
      }
    }' "$@"
}

# The anchors of a Markdown file's headings, one a line.
anchors() {
  awk '
    /^[ \t]*(```|~~~)/ { fence = !fence; next }
    fence || !/^#+[ \t]/ { next }
    {
      h = $0
      sub(/^#+[ \t]+/, "", h)
      sub(/[ \t]+#+[ \t]*$/, "", h)
      h = tolower(h)
      out = ""
      for (i = 1; i <= length(h); i++) {
        c = substr(h, i, 1)
        if (c ~ /[a-z0-9_-]/) out = out c
        else if (c == " ") out = out "-"
      }
      if (out in seen) { n = ++seen[out]; out = out "-" n } else seen[out] = 0
      print out
    }' "$1"
}

faults=0
tab=$(printf '\t')
list=$(mktemp)
trap 'rm -f "$list"' EXIT
links "$@" >"$list"
while IFS="$tab" read -r file line target; do
  case "$target" in
    '' | [a-zA-Z]*:*) continue ;;  # a scheme: not ours to check
  esac
  path=${target%%#*}
  fragment=
  case "$target" in *'#'*) fragment=${target#*#} ;; esac
  if [ -z "$path" ]; then
    dest=$file
  else
    dest=$(dirname "$file")/$path
  fi
  if [ ! -e "$dest" ]; then
    echo "$file:$line: $target: no such file ($dest)"
    faults=$((faults + 1))
    continue
  fi
  if [ -n "$fragment" ]; then
    case "$dest" in
      *.md)
        anchors "$dest" | grep -qxF -- "$fragment" || {
          echo "$file:$line: $target: no heading with the anchor #$fragment in $dest"
          faults=$((faults + 1))
        } ;;
      *)
        echo "$file:$line: $target: a fragment into $dest, which is not Markdown"
        faults=$((faults + 1)) ;;
    esac
  fi
done <"$list"
if [ "$faults" -gt 0 ]; then
  echo "check_links: $faults broken link(s)"
  exit 1
fi
echo "check_links: every relative link of $# file(s) resolves"
