#!/usr/bin/env bash
# Sets up the machine and runs every test: install-deps, configure, build, ctest.
# Usage: scripts/test.sh [workflow]   (test | test-asan | test-tsan; default test)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --workflow --preset "${1:-test}"
