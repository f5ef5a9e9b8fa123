#!/usr/bin/env bash
# download_bench: one book of PAGES page images (about 100 KB each) from
# varnel-demo-site, with 0 ms and 20 ms of latency per image, fetched by
#   varnel --base-url URL --dir DIR download 基准测试 下载 1
#   aria2c -j 8                        (the same image URLs, from an input file)
#   curl --parallel --parallel-max 8   (the same image URLs, from a config file)
# each writing the files to disk. Prints pages/s per tool (best of RUNS runs),
# the ratio of varnel to each peer and, with latency, to the limit of 8
# connections / latency.
#
# usage: download_bench [--varnel PATH] [--site PATH] [--pages N] [--runs N]
#                       [--latencies "0 20"]
# PATHs default to $VARNEL and $VARNEL_DEMO_SITE; the build places a wrapper
# that names both at build/release/bench/download_bench.
set -euo pipefail

varnel="${VARNEL:-}"
site="${VARNEL_DEMO_SITE:-}"
pages=300
runs=3
latencies="0 20"
connections=8
edition="基准测试"
subject="下载"
book="基准书"

while [[ $# -gt 0 ]]; do
  case "$1" in
    --varnel) varnel="$2"; shift 2 ;;
    --site) site="$2"; shift 2 ;;
    --pages) pages="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --latencies) latencies="$2"; shift 2 ;;
    *) echo "download_bench: unknown argument $1" >&2; exit 2 ;;
  esac
done
if [[ ! -x "$varnel" || ! -x "$site" ]]; then
  echo "download_bench: give --varnel and --site (executables)" >&2
  exit 2
fi
aria2c="$(command -v aria2c || true)"
curl="$(command -v curl || true)"
if [[ -z "$curl" ]]; then
  echo "download_bench: curl is needed to warm the site up" >&2
  exit 2
fi

# Everything stays on this machine, whatever proxy the shell has set.
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY

work="$(mktemp -d "${TMPDIR:-/tmp}/download_bench.XXXXXX")"
site_pid=""
cleanup() {
  if [[ -n "$site_pid" ]]; then
    kill "$site_pid" 2>/dev/null || true
    wait "$site_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

now() { echo "${EPOCHREALTIME/,/.}"; }

# start_site LATENCY: sets origin and image_base.
start_site() {
  "$site" --port 0 --quiet --bench-book "$pages" --latency-ms "$1" >"$work/site.out" 2>"$work/site.err" &
  site_pid=$!
  origin=""
  image_base=""
  for _ in $(seq 1 200); do
    if [[ -z "$origin" ]] && read -r word port <"$work/site.out" && [[ "$word" == PORT ]]; then
      origin="http://127.0.0.1:$port"
    fi
    image_base="$(sed -n 's/^BENCH \([^ ]*\) .*/\1/p' "$work/site.out")"
    [[ -n "$origin" && -n "$image_base" ]] && return 0
    kill -0 "$site_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "download_bench: varnel-demo-site did not start:" >&2
  cat "$work/site.err" >&2
  exit 1
}

stop_site() {
  kill "$site_pid" 2>/dev/null || true
  wait "$site_pid" 2>/dev/null || true
  site_pid=""
}

# The same URL lists for both peers.
write_lists() {
  : >"$work/aria2.txt"
  : >"$work/curl.cfg"
  for ((n = 1; n <= pages; n++)); do
    echo "$origin$image_base$n.jpg" >>"$work/aria2.txt"
    printf 'url = "%s%s%d.jpg"\noutput = "%d.jpg"\n' "$origin" "$image_base" "$n" "$n" >>"$work/curl.cfg"
  done
}

# Every page present, each identical to what the site served, nothing else.
check_pages() {
  if ! diff -rq "$work/reference" "$1" >&2; then
    echo "download_bench: $2 did not write the book as served into $1" >&2
    return 1
  fi
}

# Each run_TOOL fetches the book into $work/out/TOOL and nothing else; the
# pages are checked afterwards, outside the timed part.
run_varnel() {
  "$varnel" --base-url "$origin" --dir "$work/out/varnel" download "$edition" "$subject" 1 \
    >"$work/varnel.out" 2>"$work/varnel.err"
}

run_aria2c() {
  "$aria2c" --no-conf --quiet -j "$connections" --max-connection-per-server=1 \
    --file-allocation=none --allow-overwrite=true --auto-file-renaming=false \
    -d "$work/out/aria2c" -i "$work/aria2.txt"
}

run_curl() {
  mkdir -p "$work/out/curl"
  (cd "$work/out/curl" && "$curl" --silent --no-progress-meter --fail --noproxy '*' --parallel \
    --parallel-max "$connections" --config "$work/curl.cfg")
}

# The folder a tool wrote the pages into.
folder_of() {
  if [[ "$1" != varnel ]]; then
    echo "$work/out/$1"
    return
  fi
  # The book's folder is the last line varnel prints.
  local folder
  folder="$(tail -n 1 "$work/varnel.out")"
  [[ -d "$folder" ]] || folder="$work/out/varnel/$edition--$subject--$book"
  echo "$folder"
}

# best_rate TOOL: pages/s of the fastest of $runs runs; "failed" when a run
# failed or left a page missing or different from what the site served.
best_rate() {
  local tool="$1" best="" start end rate
  for ((r = 0; r < runs; r++)); do
    rm -rf "$work/out"
    mkdir -p "$work/out"
    start="$(now)"
    if ! "run_$tool" >/dev/null 2>"$work/$tool.err"; then
      echo "download_bench: $tool failed:" >&2
      tail -n 5 "$work/$tool.err" >&2
      echo failed
      return
    fi
    end="$(now)"
    if ! check_pages "$(folder_of "$tool")" "$tool"; then
      echo failed
      return
    fi
    rate="$(awk -v p="$pages" -v a="$start" -v b="$end" 'BEGIN { printf "%.0f", p / (b - a) }')"
    if [[ -z "$best" || "$rate" -gt "$best" ]]; then best="$rate"; fi
  done
  echo "$best"
}

ratio() {
  if [[ "$1" =~ ^[0-9]+$ && "$2" =~ ^[0-9]+$ && "$2" -gt 0 ]]; then
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'
  else
    echo "-"
  fi
}

rows=()
page_kb=""
load_before="$(cut -d' ' -f1-3 /proc/loadavg)"
for latency in $latencies; do
  start_site "$latency"
  write_lists
  # Draws and caches every page before anything is timed; also the reference.
  mkdir -p "$work/reference"
  (cd "$work/reference" && "$curl" --silent --no-progress-meter --fail --noproxy '*' \
    --parallel --parallel-max "$connections" --config "$work/curl.cfg")
  page_kb="$(du -sk "$work/reference" | awk -v p="$pages" '{ printf "%.0f", $1 / p }')"

  ours="$(best_rate varnel)"
  if [[ -n "$aria2c" ]]; then aria="$(best_rate aria2c)"; else aria="n/a"; fi
  peer_curl="$(best_rate curl)"
  stop_site
  rm -rf "$work/reference"

  if [[ "$latency" -gt 0 ]]; then
    limit=$((connections * 1000 / latency))
    to_limit="$(ratio "$ours" "$limit") of $limit"
  else
    to_limit="-"
  fi
  rows+=("$(printf '| %5s ms | %8s | %8s | %8s | %13s | %11s | %12s |' "$latency" "$ours" \
    "$aria" "$peer_curl" "$(ratio "$ours" "$aria")" "$(ratio "$ours" "$peer_curl")" "$to_limit")")
done

echo "download_bench: $pages pages of about $page_kb KB from varnel-demo-site, $connections at a time, best of $runs, pages/s"
echo "load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores)"
echo "| latency  |   varnel |   aria2c |     curl | varnel/aria2c | varnel/curl | varnel/limit |"
echo "|----------|----------|----------|----------|---------------|-------------|--------------|"
printf '%s\n' "${rows[@]}"
