# Item 2: N connections drip a header line every 2 s; a normal client then asks /api/status.
# With "term", SIGTERM is sent afterwards and the time to exit measured.
import socket, sys, time, threading, os, signal
port, pid, n = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
stop = False
def loris():
    s = socket.create_connection(('127.0.0.1', port))
    s.sendall(b'GET /api/status HTTP/1.1\r\nHost: x\r\n')
    i = 0
    while not stop:
        time.sleep(2)
        try: s.sendall(b'X-Drip-%d: y\r\n' % i)
        except OSError: return
        i += 1
for _ in range(n): threading.Thread(target=loris, daemon=True).start()
time.sleep(1)
t = time.time()
try:
    s = socket.create_connection(('127.0.0.1', port), timeout=60)
    s.sendall(b'GET /api/status HTTP/1.1\r\nHost: x\r\n\r\n')
    print('normal client: %s after %.2f s' % (s.recv(100).split(b'\r\n')[0], time.time() - t))
except OSError as e:
    print('normal client: no answer after %.2f s (%s)' % (time.time() - t, e))
if len(sys.argv) > 4:
    t = time.time()
    os.kill(pid, signal.SIGTERM)
    while os.path.exists('/proc/%d' % pid) and open('/proc/%d/stat' % pid).read().split()[2] != 'Z':
        time.sleep(0.05)
    print('exited %.2f s after SIGTERM' % (time.time() - t))
stop = True
