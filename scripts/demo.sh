#!/usr/bin/env bash
# Starts the demo catalogue site and the program against it; the site stops
# when the program ends. Build first (see README); the build directory is
# build/debug unless VARNEL_BUILD_DIR names another. VARNEL_DEMO_PORT picks
# the port (default 8080, the program's built-in address).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VARNEL_BUILD_DIR:-$root/build/debug}"
port="${VARNEL_DEMO_PORT:-8080}"

site=""
for candidate in "$build/demo_site/varnel-demo-site" "$build/tools/demo_site/varnel-demo-site"; do
  if [[ -x "$candidate" ]]; then site="$candidate"; break; fi
done
program="$build/app/varnel"
if [[ -z "$site" || ! -x "$program" ]]; then
  echo "demo.sh: varnel-demo-site or varnel not found under $build; build first" >&2
  exit 1
fi

"$site" --port "$port" &
site_pid=$!
trap 'kill "$site_pid" 2>/dev/null || true' EXIT

# Wait until the site answers (it fails at once when the port is taken).
for _ in $(seq 1 100); do
  if ! kill -0 "$site_pid" 2>/dev/null; then
    echo "demo.sh: the demo site did not start (is port $port in use?)" >&2
    exit 1
  fi
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then break; fi
  sleep 0.1
done

"$program" --base-url "http://127.0.0.1:$port" "$@"
