# Item 6: does an upload take measurably longer when nobody has stored that content yet?
# Each round: fresh content uploaded by user A (new content), then the same by user B
# (content another user already stored). Prints the median times of both.
import json, os, sys, time, http.client, statistics
port, key_a, key_b, size, rounds = int(sys.argv[1]), sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
def upload(key, content):
    c = http.client.HTTPConnection('127.0.0.1', port, timeout=120)
    body = (b'--b\r\nContent-Disposition: form-data; name="file"; filename="f.bin"\r\n\r\n' + content + b'\r\n--b--\r\n')
    t = time.perf_counter()
    c.request('POST', '/api/upload', body, {'X-API-Key': key, 'Content-Type': 'multipart/form-data; boundary=b'})
    r = c.getresponse(); data = json.loads(r.read())
    return time.perf_counter() - t, data['Data']['IsDuplicate']
new, known = [], []
base = os.urandom(size)
for i in range(rounds):
    content = os.urandom(16) + base
    t, dup = upload(key_a, content); assert not dup; new.append(t)
    t, dup = upload(key_b, content); assert not dup; known.append(t)
print('%d rounds of %d bytes: new content median %.1f ms, content stored by another user median %.1f ms' %
      (rounds, size, statistics.median(new) * 1000, statistics.median(known) * 1000))
