#!/usr/bin/env bash
# Builds the Debian package from scratch: sets up the machine, configures a
# fresh release build in build/package (no tests), builds it, packs
# build/package/varnel_<version>_<arch>.deb with CPack and checks it with
# lintian, which must report no errors.
# Install it with: sudo apt-get install ./build/package/varnel_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build=build/package
rm -rf "$build"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# Debian's hardening flags (stack protector, fortified calls, read-only
# relocations, immediate binding); CMake reads no CPPFLAGS, so they join the
# compiler flags.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
export CFLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags"
export CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags"
export LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"

cmake --preset release -B "$build" -DVARNEL_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr \
  "${launcher[@]}" >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}"
(cd "$build" && cpack >/dev/null)

deb=$(ls "$build"/varnel_*.deb)
echo "lintian $deb:"
lintian --fail-on error "$deb"
echo "built $deb"
echo "install: sudo apt-get install ./$deb    remove: sudo apt-get remove varnel"
