#!/usr/bin/env bash
# Sets up the machine, builds the release preset and starts the program.
# Arguments go to the program, e.g. scripts/run.sh --base-url http://127.0.0.1:8080
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target varnel
exec build/release/app/varnel "$@"
