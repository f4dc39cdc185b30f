# Items 5 and 6: while FILE uploads, another client asks /api/check every 20 ms; prints the
# upload's time and the slowest check answered meanwhile.
import json, sys, threading, time, http.client, subprocess
port, key, path = int(sys.argv[1]), sys.argv[2], sys.argv[3]
slowest = [0.0, 0]; done = False
def poll():
    c = http.client.HTTPConnection('127.0.0.1', port, timeout=60)
    while not done:
        t = time.time()
        c.request('GET', '/api/check/sha256:' + '0' * 64, headers={'X-API-Key': key})
        r = c.getresponse(); r.read()
        took = time.time() - t
        slowest[0] = max(slowest[0], took); slowest[1] += 1
        time.sleep(0.02)
th = threading.Thread(target=poll); th.start()
t = time.time()
out = subprocess.run(['curl', '-s', '-H', 'X-API-Key: ' + key, '-F', 'file=@' + path,
                      'http://127.0.0.1:%d/api/upload' % port], capture_output=True, text=True).stdout
took = time.time() - t
time.sleep(0.1); done = True; th.join()
d = json.loads(out)['Data']
print('upload %.2f s (IsDuplicate %s); slowest of %d checks meanwhile: %.3f s' % (took, d['IsDuplicate'], slowest[1], slowest[0]))
