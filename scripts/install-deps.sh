#!/usr/bin/env bash
# Installs every Debian package the project needs. Idempotent: runs
# `apt-get update` only when something is missing, and is a no-op otherwise.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  # libraries
  qt6-base-dev qt6-translations-l10n libcurl4-openssl-dev libmodest-dev libboost-regex-dev
  libpng-dev zlib1g-dev libqpdf-dev libcli11-dev
  # tests
  libgtest-dev libgmock-dev libcpp-httplib-dev fonts-wqy-microhei desktop-file-utils
  # benchmarks and their peers
  libbenchmark-dev rapidjson-dev nlohmann-json3-dev libtbb-dev python3-lxml
  aria2 curl img2pdf qpdf
  # fuzzing
  clang libclang-rt-14-dev
  # the Debian package (scripts/package.sh)
  dpkg-dev lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
