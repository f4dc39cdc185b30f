#!/usr/bin/env bash
# Uploads the same 1 GiB file to a loopback sink with UploadService and with
# `curl -F file=@…`, whole-process wall time and peak RSS for each, over
# five rounds (ROUNDS=n to change), alternating.
# Goals: time ratio <= 1.15, our peak RSS <= 64 MiB.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset ci >/dev/null
cmake --build --preset ci --target sendova_bench_upload sendova_bench_sink >/dev/null

file=$(mktemp /tmp/sendova-upload-bench.XXXXXX)
portfile=$(mktemp /tmp/sendova-sink-port.XXXXXX)
sink_pid=""
cleanup() {
    [ -n "$sink_pid" ] && kill "$sink_pid" 2>/dev/null || true
    rm -f "$file" "$portfile"
}
trap cleanup EXIT
head -c 1G /dev/urandom >"$file"
cat "$file" >/dev/null

build/ci/bench/sendova_bench_sink >"$portfile" &
sink_pid=$!
for _ in $(seq 50); do [ -s "$portfile" ] && break; sleep 0.1; done
port=$(cat "$portfile")
url="http://127.0.0.1:$port"

measure() { # prints "seconds maxrss_kib"
    local out; out=$(mktemp /tmp/sendova-bench-time.XXXXXX)
    /usr/bin/time -f '%e %M' -o "$out" "$@" >/dev/null
    cat "$out"; rm -f "$out"
}

ours=(); curls=(); rss_ours=0; rss_curl=0
for _ in $(seq "${ROUNDS:-5}"); do
    read -r t m < <(measure build/ci/bench/sendova_bench_upload "$file" "$url")
    ours+=("$t"); [ "$m" -gt "$rss_ours" ] && rss_ours=$m
    read -r t m < <(measure curl -sS -o /dev/null -F "file=@$file" -H "X-API-Key: bench-key" "$url/api/upload")
    curls+=("$t"); [ "$m" -gt "$rss_curl" ] && rss_curl=$m
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
best() { printf '%s\n' "$@" | sort -n | head -1; }
echo "runs (s): ours ${ours[*]}; curl ${curls[*]}"
printf 'UploadService 1 GiB: best %.2f s, median %.2f s, peak RSS %d MiB\n' "$(best "${ours[@]}")" "$(median "${ours[@]}")" $((rss_ours / 1024))
printf 'curl -F       1 GiB: best %.2f s, median %.2f s, peak RSS %d MiB\n' "$(best "${curls[@]}")" "$(median "${curls[@]}")" $((rss_curl / 1024))
printf 'time ratio (ours / curl): best %.2f, median %.2f  (goal <= 1.15); peak RSS goal <= 64 MiB\n' \
    "$(echo "$(best "${ours[@]}") / $(best "${curls[@]}")" | bc -l)" \
    "$(echo "$(median "${ours[@]}") / $(median "${curls[@]}")" | bc -l)"
