#!/usr/bin/env python3
"""Times COUNT small uploads (1000 by default) sent one after the other on one kept-alive
connection to a fresh sendova-server, and prints the wall time and the number of
connections the client had to open. With --status it asks GET /api/status instead, which
leaves out the disk: each new upload is flushed to it three times (file, folder, database).

    bench/server-round-trips.py [--server BINARY] [--count N] [--status]

Builds nothing: it runs build/ci/server/sendova-server unless --server names another binary.
Each reply on a reused connection must leave at once; a server whose replies wait for the
client's delayed acknowledgement shows it here as tens of milliseconds per upload."""
import argparse, http.client, json, os, re, subprocess, sys, tempfile, time

ap = argparse.ArgumentParser()
ap.add_argument('--server', default=os.path.join(os.path.dirname(__file__), '..', 'build', 'ci', 'server',
                                                 'sendova-server'))
ap.add_argument('--count', type=int, default=1000)
ap.add_argument('--status', action='store_true')
args = ap.parse_args()

with tempfile.TemporaryDirectory(prefix='sendova-round-trips.') as tmp:
    data = os.path.join(tmp, 'data')
    subprocess.run([args.server, 'user', 'add', 'bench', '--password-stdin', '--data', data],
                   input=b'bench password\n', check=True, stdout=subprocess.DEVNULL)
    server = subprocess.Popen([args.server, 'serve', '--listen', '127.0.0.1:0', '--data', data, '--quiet'],
                              stdout=subprocess.PIPE)
    try:
        port = int(re.search(rb'http://127\.0\.0\.1:(\d+)', server.stdout.readline()).group(1))
        connection = http.client.HTTPConnection('127.0.0.1', port, timeout=30)
        opened = 0
        connect = connection.connect

        def counted_connect():
            global opened
            opened += 1
            connect()
        connection.connect = counted_connect

        def send(method, path, body=None, headers={}):
            connection.request(method, path, body, headers)
            reply = connection.getresponse()
            return reply.status, reply.read()

        status, body = send('POST', '/api/auth/login', json.dumps({'userName': 'bench', 'password': 'bench password'}),
                            {'Content-Type': 'application/json'})
        key = json.loads(body)['data']['apiKey']
        start = time.perf_counter()
        for i in range(args.count):
            if args.status:
                status, _ = send('GET', '/api/status', headers={'X-API-Key': key})
            else:
                form = (b'--b\r\nContent-Disposition: form-data; name="file"; filename="n.txt"\r\n\r\n' +
                        b'upload %d\r\n--b--\r\n' % i)
                status, _ = send('POST', '/api/upload', form,
                                 {'X-API-Key': key, 'Content-Type': 'multipart/form-data; boundary=b'})
            if status != 200:
                sys.exit('request %d answered %d' % (i, status))
        elapsed = time.perf_counter() - start
        print('%d %s in %.2f s (%.1f ms each) over %d connection(s)' %
              (args.count, 'status requests' if args.status else 'uploads', elapsed, elapsed * 1000 / args.count,
               opened))
    finally:
        server.terminate()
        server.wait()
