# Item 9: one request whose head carries SIZE bytes of headers in 4 KiB lines; the server's peak RSS.
import socket, sys, time
port, pid, size = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
def rss():
    d = dict(l.split(':', 1) for l in open(f'/proc/{pid}/status') if ':' in l)
    return d['VmHWM'].strip(), d['VmRSS'].strip()
print('before', rss())
s = socket.create_connection(('127.0.0.1', port))
s.sendall(b'GET /api/status HTTP/1.1\r\nHost: x\r\n')
line = b'X-Pad: ' + b'p' * 4089 + b'\r\n'
sent = 0; t = time.time()
try:
    while sent < size:
        s.sendall(line * 256); sent += len(line) * 256
    s.sendall(b'\r\n')
except OSError as e:
    print('send stopped after %d bytes: %s' % (sent, e))
s.settimeout(30)
try: print('reply', s.recv(200).split(b'\r\n')[0])
except OSError as e: print('no reply', e)
print('sent %d bytes of headers in %.1f s' % (sent, time.time() - t))
print('after', rss())
