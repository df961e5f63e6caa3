#!/usr/bin/env bash
# Formats the C++ sources of the repository with clang-format and the settings in
# .clang-format; with --check, changes nothing and fails when a file would change.
#   tools/format.sh [--check]
set -euo pipefail
cd "$(dirname "$0")/.."

check=0
case ${1:-} in
  --check) check=1 ;;
  "") ;;
  *) echo "usage: tools/format.sh [--check]" >&2; exit 2 ;;
esac
format=$(command -v clang-format-14 || command -v clang-format || true)
[[ -n $format ]] || { echo "format: clang-format is missing (apt-get install clang-format)" >&2; exit 1; }

mapfile -t files < <(git ls-files -- '*.cpp' '*.hpp' '*.h')
if ((check)); then
  unformatted=()
  for f in "${files[@]}"; do
    "$format" --style=file "$f" | cmp -s - "$f" || unformatted+=("$f")
  done
  if ((${#unformatted[@]})); then
    printf 'format: not formatted: %s\n' "${unformatted[@]}" >&2
    echo "format: ${#unformatted[@]} of ${#files[@]} files differ (tools/format.sh formats them)" >&2
    exit 1
  fi
  echo "format: all ${#files[@]} files are formatted"
else
  "$format" --style=file -i "${files[@]}"
  echo "format: formatted ${#files[@]} files"
fi
