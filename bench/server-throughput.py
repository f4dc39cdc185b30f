#!/usr/bin/env python3
"""Throughput of sendova-server against two sinks, all measured in the same run:
a socket sink that reads the request and throws it away, and a sink running the
server's HTTP library with its multipart parser (bench/ServerSinks.cpp).

  1. SIZE (1 GiB by default) uploaded with `curl -F`, best of ROUNDS (3) wall times;
  2. COUNT (1000) small uploads one after the other on one kept-alive connection.

Prints each time and the server's time as a ratio to each sink, and the server's
peak RSS. Builds nothing: run `cmake --build build/ci --target sendova-server
sendova_bench_server_sink` first.

    bench/server-throughput.py [--size BYTES] [--rounds N] [--count N]"""
import argparse, http.client, json, os, re, subprocess, tempfile, time

here = os.path.dirname(os.path.abspath(__file__))
build = os.path.join(here, '..', 'build', 'ci')
ap = argparse.ArgumentParser()
ap.add_argument('--server', default=os.path.join(build, 'server', 'sendova-server'))
ap.add_argument('--sink', default=os.path.join(build, 'bench', 'sendova_bench_server_sink'))
ap.add_argument('--size', type=int, default=1 << 30)
ap.add_argument('--rounds', type=int, default=3)
ap.add_argument('--count', type=int, default=1000)
args = ap.parse_args()

BOUNDARY = 'bench7A0C1E2B4D3F'


def first_port(process):
    return int(re.search(rb'(\d+)', process.stdout.readline().split(b'http://127.0.0.1:')[-1]).group(1))


def big_upload(port, key, path):
    start = time.monotonic()
    subprocess.run(['curl', '-sS', '-o', '/dev/null', '-F', f'file=@{path}', '-H', f'X-API-Key: {key}',
                    f'http://127.0.0.1:{port}/api/upload'], check=True)
    return time.monotonic() - start


def small_uploads(port, key, count):
    connection = http.client.HTTPConnection('127.0.0.1', port, timeout=60)
    start = time.monotonic()
    for i in range(count):
        body = (f'--{BOUNDARY}\r\nContent-Disposition: form-data; name="file"; filename="s{i}.txt"\r\n\r\n'
                f'small upload number {i}\r\n--{BOUNDARY}--\r\n').encode()
        connection.request('POST', '/api/upload', body, {
            'X-API-Key': key, 'Content-Type': f'multipart/form-data; boundary={BOUNDARY}'})
        reply = connection.getresponse()
        reply.read()
        assert reply.status == 200, reply.status
    return (time.monotonic() - start) / count


def peak_rss_kib(pid):
    with open(f'/proc/{pid}/status') as status:
        return int(re.search(r'VmHWM:\s+(\d+)', status.read()).group(1))


with tempfile.TemporaryDirectory(prefix='sendova-throughput.', dir=os.environ.get('TMPDIR', '/tmp')) as tmp:
    big = os.path.join(tmp, 'big.bin')
    with open(big, 'wb') as out:
        for _ in range(args.size >> 20):
            out.write(os.urandom(1 << 20))
    data = os.path.join(tmp, 'data')
    subprocess.run([args.server, 'user', 'add', 'bench', '--password-stdin', '--data', data],
                   input=b'bench password\n', check=True, stdout=subprocess.DEVNULL)
    processes = {
        'server': subprocess.Popen([args.server, 'serve', '--listen', '127.0.0.1:0', '--data', data, '--quiet',
                                    '--max-size', str(args.size + (1 << 20))], stdout=subprocess.PIPE),
        'socket sink': subprocess.Popen([args.sink, 'raw'], stdout=subprocess.PIPE),
        'httplib sink': subprocess.Popen([args.sink, 'httplib'], stdout=subprocess.PIPE),
    }
    try:
        ports = {name: first_port(p) for name, p in processes.items()}
        login = http.client.HTTPConnection('127.0.0.1', ports['server'])
        login.request('POST', '/api/auth/login', json.dumps({'userName': 'bench', 'password': 'bench password'}),
                      {'Content-Type': 'application/json'})
        key = json.loads(login.getresponse().read())['data']['apiKey']
        times = {name: [] for name in ports}
        for _ in range(args.rounds):
            for name, port in ports.items():
                times[name].append(big_upload(port, key, big))
        best = {name: min(values) for name, values in times.items()}
        small = {name: small_uploads(port, key, args.count) for name, port in ports.items()}
        rss = peak_rss_kib(processes['server'].pid)
    finally:
        for p in processes.values():
            p.terminate()
            p.wait()

mib = args.size / (1 << 20)
print(f'{mib:.0f} MiB through curl -F, best of {args.rounds}:')
for name, t in best.items():
    print(f'  {name:13} {t:6.2f} s  {mib / t:7.0f} MiB/s  server/this {best["server"] / t:4.2f}x')
print(f'{args.count} small uploads on one connection:')
for name, t in small.items():
    print(f'  {name:13} {t * 1000:6.3f} ms each  server/this {small["server"] / t:4.2f}x')
print(f'server peak RSS: {rss / 1024:.1f} MiB')
