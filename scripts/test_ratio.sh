#!/usr/bin/env bash
# The size of the tests against the size of the program: the lines of every
# file under tests/ and under src/ that are neither blank nor only a comment
# (C++ "//" lines and "/* */" blocks, "#" lines of CMake and other files).
# Prints both counts and their ratio; exits 1 when the ratio is over 0.40.
#   bash scripts/test_ratio.sh
set -euo pipefail
cd "$(dirname "$0")/.."
limit=0.40

# count FOLDER: the counted lines of every file below FOLDER.
count() {
  local total=0 file lines
  while IFS= read -r -d '' file; do
    case "$file" in
      *.cpp|*.cc|*.c|*.h|*.hpp|*.rc)
        lines=$(awk '
          { line = $0 }
          block { if (sub(/.*\*\//, "", line)) block = 0; else next }
          { while (match(line, /\/\*/)) {
              rest = substr(line, RSTART + 2)
              if (match(rest, /\*\//)) line = substr(line, 1, RSTART - 1) substr(rest, RSTART + 2)
              else { line = substr(line, 1, RSTART - 1); block = 1 }
            } }
          line ~ /^[ \t]*(\/\/.*)?$/ { next }
          { n++ }
          END { print n + 0 }' "$file") ;;
      *)
        lines=$(awk '/^[ \t]*(#.*)?$/ { next } { n++ } END { print n + 0 }' "$file") ;;
    esac
    total=$((total + lines))
  done < <(find "$1" -type f -print0)
  echo "$total"
}

tests=$(count tests)
src=$(count src)
ratio=$(awk -v t="$tests" -v s="$src" 'BEGIN { printf "%.2f", s ? t / s : 0 }')
echo "test ratio: tests/ $tests lines, src/ $src lines, ratio $ratio (at most $limit)"
awk -v t="$tests" -v s="$src" -v l="$limit" 'BEGIN { exit (s && t / s <= l) ? 0 : 1 }'
