# Item 4: guessers against one account; what they get, and how long a real user's login takes meanwhile.
import json, sys, threading, time, http.client, collections
port = int(sys.argv[1]); guessers = int(sys.argv[2]); seconds = float(sys.argv[3])
def login(user, password):
    c = http.client.HTTPConnection('127.0.0.1', port, timeout=60)
    t = time.time()
    c.request('POST', '/api/auth/login', json.dumps({'userName': user, 'password': password}), {'Content-Type': 'application/json'})
    r = c.getresponse(); r.read()
    return r.status, r.getheader('Retry-After'), time.time() - t
statuses = collections.Counter(); stop = time.time() + seconds
def guess(i):
    n = 0
    while time.time() < stop:
        s, ra, _ = login('probe', 'guess %d %d' % (i, n)); statuses[s] += 1; n += 1
threads = [threading.Thread(target=guess, args=(i,)) for i in range(guessers)]
for t in threads: t.start()
time.sleep(seconds / 2)
s, ra, took = login('other', 'other password')
print('real user during the guessing: %d in %.3f s' % (s, took))
for t in threads: t.join()
print('guesses answered in %.0f s by %d guessers: %s' % (seconds, guessers, dict(statuses)))
s, ra, took = login('probe', 'probe password')
print('right password afterwards: %d (Retry-After %s) in %.3f s' % (s, ra, took))
