#!/usr/bin/env bash
# Hashing throughput of HashService against `openssl dgst -sha256` on the
# same 1 GiB file, page cache warm for both. Goal: ratio >= 0.9.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset ci >/dev/null
cmake --build --preset ci --target sendova_bench_hash >/dev/null

file=$(mktemp /tmp/sendova-hash-bench.XXXXXX)
trap 'rm -f "$file"' EXIT
head -c 1G /dev/urandom >"$file"
cat "$file" >/dev/null

best_ours=999; best_openssl=999
for _ in 1 2 3; do
    start=$(date +%s.%N); out=$(build/ci/bench/sendova_bench_hash "$file"); end=$(date +%s.%N)
    ours=$(echo "$end - $start" | bc -l)
    start=$(date +%s.%N); ref=$(openssl dgst -sha256 -r "$file"); end=$(date +%s.%N)
    theirs=$(echo "$end - $start" | bc -l)
    [ "${out%% *}" = "sha256:${ref%% *}" ] || { echo "digest mismatch: $out vs $ref" >&2; exit 1; }
    best_ours=$(echo "if ($ours < $best_ours) $ours else $best_ours" | bc -l)
    best_openssl=$(echo "if ($theirs < $best_openssl) $theirs else $best_openssl" | bc -l)
done
printf 'HashService  1 GiB: %.3f s  (%.0f MiB/s)\n' "$best_ours" "$(echo "1024 / $best_ours" | bc -l)"
printf 'openssl dgst 1 GiB: %.3f s  (%.0f MiB/s)\n' "$best_openssl" "$(echo "1024 / $best_openssl" | bc -l)"
printf 'throughput ratio (ours / openssl): %.2f  (goal >= 0.90)\n' "$(echo "$best_openssl / $best_ours" | bc -l)"
