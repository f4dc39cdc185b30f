# Item 2: N idle connections (one request answered, then kept open) and M silent ones; SIGTERM; time to exit.
import socket, sys, time, os, signal
port, pid, n = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
socks = []
for _ in range(n):
    s = socket.create_connection(('127.0.0.1', port)); s.settimeout(10)
    s.sendall(b'GET /api/status HTTP/1.1\r\nHost: x\r\n\r\n'); s.recv(1000); socks.append(s)
for _ in range(n):
    socks.append(socket.create_connection(('127.0.0.1', port)))
time.sleep(0.2)
t = time.time()
os.kill(pid, signal.SIGTERM)
while os.path.exists('/proc/%d' % pid) and open('/proc/%d/stat' % pid).read().split()[2] != 'Z':
    time.sleep(0.02)
print('exited %.2f s after SIGTERM with %d idle and %d silent connections' % (time.time() - t, n, n))
