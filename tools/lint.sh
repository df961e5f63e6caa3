#!/usr/bin/env bash
# Runs clang-tidy (the checks in .clang-tidy) over every source file of src/ as the build
# compiles it, and fails on any finding. Needs a configured and built build folder, for its
# compile_commands.json and the files Qt's moc generates.
#   tools/lint.sh [BUILD_DIR]     (default: build, or $TANDEMO_BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(realpath "${1:-${TANDEMO_BUILD_DIR:-build}}")

tidy=$(command -v clang-tidy-14 || command -v clang-tidy || true)
[[ -n $tidy ]] || { echo "lint: clang-tidy is missing (apt-get install clang-tidy)" >&2; exit 1; }
[[ -f $build/compile_commands.json ]] || {
  echo "lint: no $build/compile_commands.json: configure and build first (tools/setup.sh)" >&2
  exit 1
}

# The translation units under src/, each once (a file may be compiled by several targets).
mapfile -t files < <(python3 - "$build/compile_commands.json" "$root/src/" <<'PY'
import json, os, sys
entries = json.load(open(sys.argv[1]))
seen = set()
for e in entries:
    path = os.path.normpath(os.path.join(e["directory"], e["file"]))
    if path.startswith(sys.argv[2]) and path not in seen:
        seen.add(path)
        print(path)
PY
)
((${#files[@]})) || { echo "lint: $build/compile_commands.json lists no file under src/" >&2; exit 1; }

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
jobs=${TANDEMO_LINT_JOBS:-$(nproc)}
echo "lint: $(basename "$tidy") on ${#files[@]} files of src/ ($jobs at a time)"
# Each file's findings go to a log of its own, so that parallel runs do not interleave.
status=0
printf '%s\n' "${files[@]}" | xargs -P "$jobs" -I{} sh -c \
  '"$1" -p "$2" --quiet --warnings-as-errors="*" "$3" >"$4/$(echo "$3" | tr / _).log" 2>&1' \
  sh "$tidy" "$build" {} "$logs" || status=$?
for log in "$logs"/*.log; do
  grep -v -E '^[0-9]+ (warning|error)s? (and [0-9]+ (warning|error)s? )?generated\.$' "$log" || true
done
if ((status)); then
  echo "lint: clang-tidy found something to fix (see above)" >&2
  exit 1
fi
echo "lint: no finding"
