#!/usr/bin/env bash
# The desktop program against its peers, in one sealed session (private bus,
# unlocked keyring, one Xvfb display, one loopback sendova-server):
#   - `sendova --version` against `curl --version`;
#   - `sendova upload` of a new 4 KiB file, duplicate lookup on, against curl
#     making the same two requests (lookup, then upload) in two processes;
#   - the idle tray program's resident memory a few seconds after its popover
#     was shown and closed, against a minimal Qt 6 tray program with a small
#     window (bench/MinimalTray.cpp), measured the same way;
#   - from start to the status item's registration, and from the click to
#     the popover on screen.
# Medians over ROUNDS pairs (15) and TRAY_ROUNDS tray runs (3), alternating.
# Goals: --version <= 1.2, upload <= 1.0, idle memory <= 1.25 (ratios to the
# reference), popover within 50 ms.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" != "--inside" ]; then
    cmake --preset ci >/dev/null
    cmake --build --preset ci --target sendova sendova-server sendova_bench_tray sendova_bench_minimal_tray >/dev/null
    exec scripts/with-test-session "$0" --inside
fi

app=$PWD/build/ci/src/app
work=$(mktemp -d /tmp/sendova-desktop-bench.XXXXXX)
server_pid=""; xvfb_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
echo "load before: $(uptime | sed 's/.*load average/load average/')"

# The server, a user, and one API key for both clients.
server=build/ci/server/sendova-server
echo bench-password | "$server" user add bench --password-stdin --data "$work/server" >/dev/null
"$server" serve --listen 127.0.0.1:0 --quiet --data "$work/server" >"$work/server.out" 2>&1 &
server_pid=$!
url=""
for _ in $(seq 100); do
    url=$(sed -n 's/^sendova-server listening on \(http:[^ ]*\) .*/\1/p' "$work/server.out")
    [ -n "$url" ] && break
    sleep 0.1
done
[ -n "$url" ] || { echo "desktop-bench: the server did not start" >&2; exit 1; }
key=$(curl -sS -H 'Content-Type: application/json' -d '{"userName":"bench","password":"bench-password"}' \
    "$url/api/auth/login" | python3 -c 'import json, sys; print(json.load(sys.stdin)["data"]["apiKey"])')
# Kept in the session's keyring, as on a desktop: every upload reads it there.
printf '%s\n' "$key" | "$app/sendova" login --server "$url" --api-key-stdin >/dev/null 2>"$work/login.err" ||
    { cat "$work/login.err" >&2; exit 1; }

# Command-line timings, without a display: no clipboard keeper, no
# notification, as over SSH (curl does neither).
python3 - "$app/sendova" "$url" "$key" "$work" "${ROUNDS:-15}" <<'EOF'
import hashlib, os, statistics, subprocess, sys, time
sendova, url, key, work, rounds = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5])
env = {k: v for k, v in os.environ.items() if k not in ('DISPLAY', 'WAYLAND_DISPLAY')}

def timed(*commands):
    start = time.perf_counter()
    for command in commands:
        subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start

def fresh(name):
    path = os.path.join(work, name)
    with open(path, 'wb') as f:
        f.write(os.urandom(4096))
    return path

version = {'ours': [], 'curl': []}
for _ in range(max(rounds, 30)):
    version['ours'].append(timed([sendova, '--version']))
    version['curl'].append(timed(['curl', '--version']))
upload = {'ours': [], 'curl': []}
for i in range(rounds):
    # New contents each time: the lookup misses and the file is sent.
    ours = fresh(f'ours-{i}.bin')
    upload['ours'].append(timed([sendova, 'upload', ours]))
    theirs = fresh(f'curl-{i}.bin')
    digest = 'sha256:' + hashlib.sha256(open(theirs, 'rb').read()).hexdigest()
    upload['curl'].append(timed(
        ['curl', '-sS', '-o', '/dev/null', '-H', 'X-API-Key: ' + key, f'{url}/api/check/{digest}'],
        ['curl', '-sSf', '-o', '/dev/null', '-H', 'X-API-Key: ' + key, '-H', 'X-File-Hash: ' + digest,
         '-H', 'X-Source-Machine: bench', '-F', f'file=@{theirs}', f'{url}/api/upload']))

def line(label, runs, reference, goal):
    ours, theirs = statistics.median(runs['ours']) * 1000, statistics.median(runs['curl']) * 1000
    print(f'{label}: {ours:.1f} ms, {reference} {theirs:.1f} ms, ratio {ours / theirs:.2f}  (goal <= {goal})')
line('sendova --version', version, 'curl --version', '1.20')
line(f'sendova upload 4 KiB (lookup + upload, median of {rounds})', upload, 'curl lookup + curl upload', '1.00')
EOF

# The tray programs on a display of their own.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$work/display")" QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
settle=${TRAY_SETTLE:-5}
ours=(); minimal=()
for _ in $(seq "${TRAY_ROUNDS:-3}"); do
    ours+=("$(build/ci/bench/sendova_bench_tray "$settle" "$app/sendova-tray")")
    minimal+=("$(build/ci/bench/sendova_bench_tray "$settle" build/ci/bench/sendova_bench_minimal_tray)")
done
printf '%s\n' "${ours[@]}" >"$work/ours"; printf '%s\n' "${minimal[@]}" >"$work/minimal"
python3 - "$work/ours" "$work/minimal" <<'EOF'
import statistics, sys
def columns(path):
    rows = [list(map(int, line.split())) for line in open(path) if line.strip()]
    return [statistics.median(column) for column in zip(*rows)]
ours, minimal = columns(sys.argv[1]), columns(sys.argv[2])
print(f'idle tray RSS after the popover: {ours[2] / 1024:.1f} MiB, minimal Qt tray {minimal[2] / 1024:.1f} MiB, '
      f'ratio {ours[2] / minimal[2]:.2f}  (goal <= 1.25)')
print(f'  (before the first click: {ours[3] / 1024:.1f} MiB, minimal Qt tray {minimal[3] / 1024:.1f} MiB)')
print(f'start to status item registered: {ours[0]:.0f} ms, minimal Qt tray {minimal[0]:.0f} ms, '
      f'ratio {ours[0] / minimal[0]:.2f}')
print(f'click to popover mapped, first: {ours[1]:.0f} ms, again after closing: {ours[4]:.0f} ms (goal <= 50); '
      f'minimal Qt tray {minimal[1]:.0f} and {minimal[4]:.0f} ms')
EOF
echo "load after: $(uptime | sed 's/.*load average/load average/')"
