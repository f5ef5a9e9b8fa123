#!/usr/bin/env bash
# Sets up the machine, builds the release preset and starts the program.
# Without --base-url (or VARNEL_BASE_URL) the program runs against the bundled
# demo catalogue site, started here and stopped when the program ends.
# Arguments go to the program, e.g. scripts/run.sh --base-url http://host:port
#
# Where no display is available (SSH, CI, a server) the window cannot open:
# the same routines then run from the command line instead, downloading one
# demo book into a temporary folder with its progress shown, and listing it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target varnel varnel-demo-site

build="$PWD/build/release"
program="$build/app/varnel"
own_site=1
if [[ -n "${VARNEL_BASE_URL:-}" || " $* " == *" --base-url "* || " $* " == *" --base-url="* ]]; then
  own_site=0
fi

if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]]; then
  if [[ $own_site == 1 ]]; then
    VARNEL_BUILD_DIR="$build" exec scripts/demo.sh "$@"
  fi
  exec "$program" "$@"
fi

echo
echo "没有可用的显示, 改为演示命令行 (no display: showing the command line instead)"
if [[ $own_site == 0 ]]; then
  "$program" "$@" editions
  echo
  echo "下载一本书 (download a book): $program $* download 专版 学科 序号"
  exit 0
fi

site=""
for candidate in "$build/demo_site/varnel-demo-site" "$build/tools/demo_site/varnel-demo-site"; do
  if [[ -x "$candidate" ]]; then site="$candidate"; break; fi
done
work="$(mktemp -d "${TMPDIR:-/tmp}/varnel-demo.XXXXXX")"
"$site" --port 0 --quiet >"$work/site.log" 2>/dev/null &
site_pid=$!
trap 'kill "$site_pid" 2>/dev/null || true' EXIT
port=""
for _ in $(seq 1 100); do
  port="$(sed -n 's/^PORT \([0-9]*\)$/\1/p' "$work/site.log" | head -n 1)"
  [[ -n "$port" ]] && break
  sleep 0.1
done
if [[ -z "$port" ]]; then
  echo "run.sh: the demo site did not start" >&2
  exit 1
fi
origin="http://127.0.0.1:$port"
books="$work/books"

run() {
  echo
  echo "\$ varnel $*"
  "$program" "$@"
}
run --base-url "$origin" editions
run --base-url "$origin" books 小学专版 数学
run --base-url "$origin" --dir "$books" download 小学专版 数学 1
echo
echo "下载的文件 (the downloaded files):"
ls -lv "$books"/*/
echo
echo "在桌面上打开窗口 (to open the window on a desktop): scripts/run.sh"
echo "命令行用法 (command-line usage): $program --help"
