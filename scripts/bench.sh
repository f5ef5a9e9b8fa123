#!/usr/bin/env bash
# Builds the release preset with benchmarks and runs every bench/*_bench binary
# (or those named on the command line, e.g. scripts/bench.sh json_bench).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release -DVARNEL_BUILD_BENCH=ON >/dev/null
cmake --build --preset release
benches=("$@")
if [ ${#benches[@]} -eq 0 ]; then
  for b in build/release/bench/*_bench; do benches+=("$(basename "$b")"); done
fi
for b in "${benches[@]}"; do
  echo "== $b"
  "build/release/bench/$b"
done
