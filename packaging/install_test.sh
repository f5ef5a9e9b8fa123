#!/usr/bin/env bash
# Installs the built tree into a temporary root (DESTDIR) and checks what a
# desktop and a user rely on: the menu entry validates and names a program and
# an icon that are where the menu and the icon theme look, every program has a
# manual page, and the installed program, although its folder is writable
# here, keeps its settings in ~/.config/varnel/ and writes nothing beside
# itself.
# Usage: install_test.sh BUILD_DIR CMAKE DESKTOP_FILE_VALIDATE VERSION
set -euo pipefail
build=$1 cmake=$2 validate=$3 version=$4

root=$(mktemp -d)
site_pid=""
cleanup() {
  if [[ -n $site_pid ]]; then kill "$site_pid" 2>/dev/null || true; fi
  rm -rf "$root"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

DESTDIR="$root" "$cmake" --install "$build" --prefix /usr >/dev/null
prefix=$root/usr

# The menu entry.
entry=$prefix/share/applications/varnel.desktop
[[ -f $entry ]] || fail "no desktop entry at share/applications/varnel.desktop"
command -v "$validate" >/dev/null || fail "$validate not found: run scripts/install-deps.sh"
# Hints are not faults (the entry names two main categories on purpose).
problems=$("$validate" --no-hints "$entry" 2>&1) || fail "desktop-file-validate: $problems"
[[ -z $problems ]] || fail "desktop-file-validate: $problems"

exec_line=$(sed -n 's/^Exec=//p' "$entry")
[[ -x $prefix/bin/${exec_line%% *} ]] || fail "Exec=$exec_line is not a program in bin/"

# The icon theme finds Icon= by name, per size, with the picture of that size.
icon=$(sed -n 's/^Icon=//p' "$entry")
[[ -n $icon && $icon != */* ]] || fail "Icon= must be a theme name, not '$icon'"
for size in 48 128 256; do
  png=$prefix/share/icons/hicolor/${size}x${size}/apps/$icon.png
  [[ -f $png ]] || fail "no icon $png"
  # Width and height: big-endian words at bytes 16 and 20 of the PNG header.
  read -r -a b < <(od -An -tu1 -j16 -N8 "$png")
  width=$(((b[0] << 24) | (b[1] << 16) | (b[2] << 8) | b[3]))
  height=$(((b[4] << 24) | (b[5] << 16) | (b[6] << 8) | b[7]))
  [[ $width == "$size" && $height == "$size" ]] || fail "$png is ${width}x$height"
done
[[ -f $prefix/share/icons/hicolor/scalable/apps/$icon.svg ]] || fail "no scalable icon"

# A manual page per program, and the package's documents.
for program in "$prefix"/bin/*; do
  page=$prefix/share/man/man1/$(basename "$program").1.gz
  gzip -t "$page" 2>/dev/null || fail "no manual page for $(basename "$program")"
done
[[ -f $prefix/share/doc/varnel/copyright ]] || fail "no copyright file"
gzip -t "$prefix/share/doc/varnel/changelog.gz" || fail "no changelog"

[[ $("$prefix/bin/varnel" --version) == *" $version" ]] || fail "installed varnel --version"

# Settings: conf.ini in the user's configuration directory names where books
# go. Were the writable bin/ used instead, the book would land beside the program.
home=$root/home
mkdir -p "$home/.config/varnel" "$root/books"
printf '[config]\nDownloadPath=%s\n' "$root/books" >"$home/.config/varnel/conf.ini"
"$prefix/bin/varnel-demo-site" --port 0 --quiet --image-size 40x60 >"$root/site.log" &
site_pid=$!
for _ in $(seq 300); do  # up to 30 s on a loaded machine
  port=$(sed -n 's/^PORT //p' "$root/site.log")
  [[ -n $port ]] && break
  sleep 0.1
done
[[ -n $port ]] || fail "the demo site did not start"
varnel() {
  HOME=$home XDG_CONFIG_HOME=$home/.config "$prefix/bin/varnel" --base-url "http://127.0.0.1:$port" "$@"
}
edition=$(varnel editions | head -n 1)
subject=$(varnel subjects "$edition" | head -n 1)
# The smallest book: number<TAB>title<TAB>pages.
book=$(varnel books "$edition" "$subject" | sort -t $'\t' -k3,3n | head -n 1 | cut -f1)
folder=$(varnel download "$edition" "$subject" "$book" 2>/dev/null)
[[ $folder == "$root/books/"* && -f $folder/1.jpg ]] || fail "the book went to '$folder'"

beside=$(ls "$prefix/bin")
[[ $beside == $'varnel\nvarnel-demo-site\nvarnel-query' ]] || fail "bin/ holds: $beside"
echo "installed layout, desktop entry, icons, manual pages and settings location checked"
