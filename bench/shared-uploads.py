#!/usr/bin/env python3
"""32 concurrent uploads of 8 MiB (distinct contents) against three shapes of
sendova-server, in the same run:

  1. one server on a data folder (SQLite and blobs/), the default;
  2. one server on PostgreSQL with content in an S3-compatible store;
  3. two servers on that same pair, the uploads alternated between them.

Prints, per shape, the wall time of all uploads, the throughput and the median
and slowest single upload. Needs the PostgreSQL and the s3rver that
scripts/with-test-session starts, and a built server:

    scripts/with-test-session bench/shared-uploads.py [--count 32] [--size MiB] [--rounds 3]"""
import argparse, concurrent.futures, http.client, json, os, re, statistics, subprocess, tempfile, time

here = os.path.dirname(os.path.abspath(__file__))
ap = argparse.ArgumentParser()
ap.add_argument('--server', default=os.path.join(here, '..', 'build', 'ci', 'server', 'sendova-server'))
ap.add_argument('--count', type=int, default=32)
ap.add_argument('--size', type=int, default=8, help='MiB per upload')
ap.add_argument('--rounds', type=int, default=3)
args = ap.parse_args()

postgres = os.environ.get('SENDOVA_TEST_POSTGRES')
s3 = os.environ.get('SENDOVA_TEST_S3')
if not postgres or not s3:
    raise SystemExit('run inside scripts/with-test-session (it starts PostgreSQL and s3rver)')
os.environ.update(AWS_ACCESS_KEY_ID='S3RVER', AWS_SECRET_ACCESS_KEY='S3RVER')
BOUNDARY = 'bench5C3B0E2A1D4F'
PASSWORD = 'bench password'


def start(extra, data):
    process = subprocess.Popen([args.server, 'serve', '--listen', '127.0.0.1:0', '--quiet', '--data', data] + extra,
                               stdout=subprocess.PIPE)
    line = process.stdout.readline().decode()
    return process, int(re.search(r'http://127\.0\.0\.1:(\d+)', line).group(1))


def api_key(port):
    connection = http.client.HTTPConnection('127.0.0.1', port, timeout=60)
    connection.request('POST', '/api/auth/login', json.dumps({'userName': 'bench', 'password': PASSWORD}),
                       {'Content-Type': 'application/json'})
    return json.loads(connection.getresponse().read())['data']['apiKey']


def upload(port, key, content):
    body = (f'--{BOUNDARY}\r\nContent-Disposition: form-data; name="file"; filename="b.bin"\r\n\r\n'.encode() +
            content + f'\r\n--{BOUNDARY}--\r\n'.encode())
    start = time.monotonic()
    connection = http.client.HTTPConnection('127.0.0.1', port, timeout=300)
    connection.request('POST', '/api/upload', body,
                       {'X-API-Key': key, 'Content-Type': f'multipart/form-data; boundary={BOUNDARY}'})
    reply = connection.getresponse()
    reply.read()
    assert reply.status == 200, reply.status
    return time.monotonic() - start


def measure(name, instances, storage, data, contents):
    subprocess.run([args.server, 'user', 'add', 'bench', '--password-stdin', '--data', data] + storage,
                   input=(PASSWORD + '\n').encode(), check=True, stdout=subprocess.DEVNULL)
    servers = [start(storage, data) for _ in range(instances)]
    try:
        ports = [port for _, port in servers]
        key = api_key(ports[0])
        best = None
        for round_ in range(args.rounds):
            # Distinct contents per round: each round stores new content.
            batch = [bytes([round_]) + c[1:] for c in contents]
            begin = time.monotonic()
            with concurrent.futures.ThreadPoolExecutor(len(batch)) as pool:
                times = list(pool.map(lambda i: upload(ports[i % len(ports)], key, batch[i]), range(len(batch))))
            wall = time.monotonic() - begin
            if best is None or wall < best[0]:
                best = (wall, times)
        wall, times = best
        mib = args.count * args.size
        print(f'{name:38} {wall:6.2f} s  {mib / wall:7.1f} MiB/s  median {statistics.median(times):5.2f} s  '
              f'slowest {max(times):5.2f} s')
    finally:
        for process, _ in servers:
            process.terminate()
            process.wait()


with tempfile.TemporaryDirectory(prefix='sendova-shared-bench.', dir=os.environ.get('TMPDIR', '/tmp')) as tmp:
    contents = [os.urandom(args.size << 20) for _ in range(args.count)]
    print(f'{args.count} concurrent uploads of {args.size} MiB, best of {args.rounds} rounds')
    measure('data folder (SQLite, blobs/)', 1, [], os.path.join(tmp, 'folder'), contents)
    for instances in (1, 2):
        database = f'bench{instances}'
        subprocess.run(['psql', postgres, '-q', '-c', f'CREATE DATABASE {database}'], check=True)
        conninfo = f'{postgres} dbname={database}'
        bucket = f'bench{instances}'
        subprocess.run(['curl', '-sS', '-f', '-X', 'PUT', '--user', 'S3RVER:S3RVER', '--aws-sigv4',
                        'aws:amz:us-east-1:s3', '-H',
                        'x-amz-content-sha256: UNSIGNED-PAYLOAD', f'{s3}/{bucket}'], check=True, stdout=subprocess.DEVNULL)
        subprocess.run([args.server, 'migrate', '--database', conninfo], check=True, stdout=subprocess.DEVNULL)
        storage = ['--database', conninfo, '--blob-store', f's3://{bucket}?endpoint={s3}&region=us-east-1']
        measure(f'PostgreSQL + S3, {instances} instance{"s" if instances > 1 else ""}', instances, storage,
                os.path.join(tmp, f'shared{instances}'), contents)
