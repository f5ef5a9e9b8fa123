#!/usr/bin/env bash
# Sets up the machine, builds the release preset and starts the program.
# Without --base-url (or VARNEL_BASE_URL) the program runs against the bundled
# demo catalogue site, started here and stopped when the program ends.
# Arguments go to the program, e.g. scripts/run.sh --base-url http://host:port
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target varnel varnel-demo-site

if [[ -z "${VARNEL_BASE_URL:-}" && " $* " != *" --base-url "* ]]; then
  VARNEL_BUILD_DIR="$PWD/build/release" exec scripts/demo.sh "$@"
fi
exec build/release/app/varnel "$@"
