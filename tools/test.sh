#!/usr/bin/env bash
# Sets up and builds, then runs every test (engine, command line, window, fuzz smoke).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
ctest --test-dir "${TANDEMO_BUILD_DIR:-build}" --output-on-failure -j"$(nproc)"
