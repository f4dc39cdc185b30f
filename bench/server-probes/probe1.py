# Item 1: a GET with a 1 GiB body and no key. Prints the server's peak and current RSS.
import socket, sys, time
port, pid = int(sys.argv[1]), sys.argv[2]
size = int(sys.argv[3]) if len(sys.argv) > 3 else 1 << 30
def rss():
    d = dict(l.split(':', 1) for l in open(f'/proc/{pid}/status') if ':' in l)
    return d['VmHWM'].strip(), d['VmRSS'].strip()
print('before', rss())
s = socket.create_connection(('127.0.0.1', port))
s.sendall(b'GET /api/status HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n\r\n' % size)
chunk = b'\0' * (1 << 20); sent = 0; t = time.time()
try:
    while sent < size:
        sent += s.send(chunk[:min(len(chunk), size - sent)])
except OSError as e:
    print('send stopped after', sent, 'bytes:', e)
s.settimeout(30)
try:
    print('reply', s.recv(200).split(b'\r\n')[0])
except OSError as e:
    print('no reply', e)
print('sent %d bytes in %.1f s' % (sent, time.time() - t))
time.sleep(1)
print('after', rss())
