#!/usr/bin/env bash
# Builds the Debian package of the build folder BUILD_DIR into a scratch folder with
# cpack, then runs lintian on it as an ordinary user: any error or warning fails.
# Exits 77 (skipped) when lintian is not installed.
#   packaging/lintian_deb.sh BUILD_DIR
set -euo pipefail
build_dir=$(realpath "${1:?usage: lintian_deb.sh BUILD_DIR}")

if ! command -v lintian >/dev/null; then
  echo "lintian is not installed, so the package is not checked (apt-get install lintian)"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tandemo-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log"
  echo "cpack failed"
  exit 1
}
debs=("$work"/out/*.deb)
[[ -f ${debs[0]} ]] || { cat "$work/cpack.log"; echo "cpack wrote no .deb"; exit 1; }
echo "Built ${debs[*]##*/}"

# lintian is not to be run with root's rights; root runs it as nobody, with a
# home folder of its own that it may write.
run=()
if [[ $(id -u) -eq 0 ]]; then
  mkdir -p "$work/home"
  chown nobody "$work/home"
  chmod 755 "$work" "$work/out"
  chmod 644 "${debs[@]}"
  run=(runuser -u nobody -- env HOME="$work/home")
fi
cd "$work"
"${run[@]}" lintian --fail-on error,warning --display-info --tag-display-limit 0 "${debs[@]}"
echo "lintian: no error and no warning"
