#!/usr/bin/env bash
# Installs what the build needs (Debian 12, apt; sudo when not root), then
# configures and builds into build/. Safe to run again: it only installs what is missing.
# With TANDEMO_PRESET set, it configures and builds that CMake preset instead (.ci/run).
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-charts-dev qt6-svg-dev
  clang libclang-rt-14-dev
  locales
  qt6-qpa-plugins xvfb xauth python3 xdotool imagemagick
  dpkg-dev file
  clang-tidy clang-format
  lintian appstream desktop-file-utils man-db
  attr acl
  time valgrind
  g++-mingw-w64-x86-64-posix googletest wine wine64
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=()
  if [[ $(id -u) -ne 0 ]]; then SUDO=(sudo); fi
  "${SUDO[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y "${missing[@]}"
fi

if [[ -n ${TANDEMO_PRESET:-} ]]; then
  cmake --preset "$TANDEMO_PRESET" "$@"
  cmake --build --preset "$TANDEMO_PRESET"
  exit 0
fi
BUILD_DIR=${TANDEMO_BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$BUILD_DIR"
