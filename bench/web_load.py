#!/usr/bin/python3
"""brackwater-web under load: CLIENTS signed-in clients (default 50), each on its own HTTPS
connection, read the status page once a second for SECONDS (default 60) against the demo site.
Prints the errors, the answers' 50th and 99th percentile and slowest time, and the server's
resident size (the most seen while the clients read, and its peak, VmHWM, which includes the
sign-ins' Argon2id memory).

usage: web_load.py BUILD_DIR [SECONDS] [CLIENTS]"""
import http.client, os, re, shutil, signal, ssl, subprocess, sys, tempfile, threading, time

build = sys.argv[1]
seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 60
clients = int(sys.argv[3]) if len(sys.argv) > 3 else 50
tmp = tempfile.mkdtemp(prefix="bw-web-load-")
env = dict(os.environ, HOME=tmp, XDG_CONFIG_HOME=tmp + "/cfg", XDG_DATA_HOME=tmp + "/data",
           XDG_RUNTIME_DIR=tmp, BW_SYSTEM_SETTINGS="/nonexistent/brackwater.conf")
db = tmp + "/site.db"
web = subprocess.Popen([build + "/brackwater-web", "--demo", "--db", db, "--listen", "127.0.0.1:0",
                        "--state-dir", tmp + "/state"], env=env, stdout=subprocess.PIPE, text=True)
port = None
while port is None:
    m = re.search(r"listening on https://127.0.0.1:(\d+)/", web.stdout.readline())
    port = m and int(m.group(1))
try:
    subprocess.run([build + "/brackwater-site", "--db", db, "operator", "password", "admin",
                    "--password-stdin"], input="load-pass\n", env=env, text=True, check=True,
                   stdout=subprocess.DEVNULL)
    context = ssl._create_unverified_context()
    times, errors, lock = [], [], threading.Lock()
    start = threading.Barrier(clients + 1)


    def rss(key):
        with open("/proc/%d/status" % web.pid) as f:
            return int(re.search(key + r":\s+(\d+)", f.read()).group(1)) / 1024


    def client():
        # The sign-ins' password checks run one at a time: the last one waits for all the others.
        c = http.client.HTTPSConnection("127.0.0.1", port, context=context, timeout=300)
        c.request("POST", "/signin", "name=admin&password=load-pass",
                  {"Content-Type": "application/x-www-form-urlencoded"})
        r = c.getresponse()
        r.read()
        cookie = (r.getheader("Set-Cookie") or "").split(";")[0]
        start.wait()
        c.sock.settimeout(10)
        end = time.time() + seconds
        while time.time() < end:
            t0 = time.time()
            try:
                c.request("GET", "/status", headers={"Cookie": cookie})
                r = c.getresponse()
                body = r.read()
                ok = r.status == 200 and b'id="terminals"' in body
            except Exception as e:  # counted, the client goes on with a new connection
                ok = False
                c = http.client.HTTPSConnection("127.0.0.1", port, context=context, timeout=10)
            with lock:
                (times if ok else errors).append(time.time() - t0)
            time.sleep(max(0, 1 - (time.time() - t0)))


    threads = [threading.Thread(target=client) for _ in range(clients)]
    for t in threads:
        t.start()
    signing = time.time()
    start.wait()
    print("%d sign-ins took %.1f s" % (clients, time.time() - signing))
    most = 0
    while any(t.is_alive() for t in threads):
        most = max(most, rss("VmRSS"))
        time.sleep(0.5)
    times.sort()
    pct = lambda p: times[min(len(times) - 1, int(len(times) * p))] * 1000 if times else 0
    print("clients %d, seconds %d, answers %d, errors %d" % (clients, seconds, len(times), len(errors)))
    print("p50 %.1f ms, p99 %.1f ms, slowest %.1f ms" % (pct(0.5), pct(0.99), times[-1] * 1000))
    print("resident %.1f MiB while reading, peak %.1f MiB" % (most, rss("VmHWM")))
finally:
    web.send_signal(signal.SIGTERM)
    web.wait(10)
    shutil.rmtree(tmp, ignore_errors=True)
