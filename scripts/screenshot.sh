#!/usr/bin/env bash
# Makes the README's pictures of the main window, drawn with Qt's offscreen
# platform (no display needed): docs/main-window.png, the demo catalogue loaded,
# a subject chosen and its first book downloaded; docs/window-downloading.png,
# every book of a subject queued and the first under way. The demo site runs inside
# the tool on a free port; the book goes to a temporary directory.
#
# Builds varnel-screenshot in the release preset's directory, or in
# VARNEL_BUILD_DIR when set (already configured). Arguments go to the tool,
# e.g. scripts/screenshot.sh --edition 高中专版 --subject 数学 --out /tmp/x.png
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ -n "${VARNEL_BUILD_DIR:-}" ]]; then
  build="$VARNEL_BUILD_DIR"
else
  build="build/release"
  cmake --preset release >/dev/null
fi
cmake --build "$build" --target varnel-screenshot

tool=""
for candidate in "$build/tools/screenshot/varnel-screenshot" "$build/screenshot/varnel-screenshot"; do
  if [[ -x "$candidate" ]]; then tool="$candidate"; break; fi
done
if [[ -z "$tool" ]]; then
  echo "screenshot.sh: varnel-screenshot was not built under $build" >&2
  exit 1
fi

mkdir -p docs
QT_QPA_PLATFORM=offscreen "$tool" --out docs/main-window.png "$@"
QT_QPA_PLATFORM=offscreen "$tool" --out docs/window-downloading.png --queue \
  --edition 小学专版 --subject 数学
