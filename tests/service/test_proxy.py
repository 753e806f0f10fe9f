"""velvip-server behind nginx with the shipped site (packaging/nginx/velvip.conf, on a free port without TLS):
slow headers, oversized and chunked bodies stopped there, reports streamed, the client's address seen."""
import http.client, json, os, re, subprocess, sys, time, unittest

sys.dont_write_bytecode = True
import test_service as ts   # takes the two programs from the command line
from test_hostile import exchange

NGINX = "/usr/sbin/nginx"
SITE = os.path.join(os.path.dirname(__file__), "../../packaging/nginx/velvip.conf")


class ProxyTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tmp = ts.scratch("velvip-proxy-")
        os.chmod(tmp, 0o755)   # nginx's workers run as another user when the test runs as root
        db, store = os.path.join(tmp, "chain.sqlite"), os.path.join(tmp, "store.sqlite")
        subprocess.run([ts.REPORT, "make-demo", "--out", db, "--members", "3000", "--days", "366", "--start", "2024-01-01"],
                       check=True, capture_output=True)
        subprocess.run([ts.SERVER, "user", "add", "boss", "--password-stdin", "--head-office", "--store", store],
                       input=b"boss-password\n", check=True, capture_output=True)
        cls.token = subprocess.run([ts.SERVER, "token", "add", "boss", "--store", store], capture_output=True, text=True).stdout.strip()
        cls.service, cls.port, cls.log = ts.Service(tmp, db, "--trusted-proxy", "127.0.0.1", store=store), ts.free_port(), f"{tmp}/error.log"
        with open(SITE) as f:   # as shipped, but for its port, the service's and TLS
            site = re.sub(r"\n\s*ssl_\w+ [^\n]*", "", f.read()).replace("listen 443 ssl;", f"listen 127.0.0.1:{cls.port};")
        site = site.replace("server 127.0.0.1:8080;", f"server 127.0.0.1:{cls.service.port};")
        with open(f"{tmp}/nginx.conf", "w") as f:   # its temporary files in the test's folder
            f.write(f"daemon off; pid {tmp}/nginx.pid; error_log {cls.log} info; events {{ }}\nhttp {{ access_log off; "
                    + "".join(f"{k}_temp_path {tmp}/{k}; " for k in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi")) + f"\n{site}\n}}\n")
        cls.addClassCleanup(cls.service.stop)
        nginx = subprocess.Popen([NGINX, "-p", tmp, "-c", f"{tmp}/nginx.conf", "-e", cls.log], stdout=subprocess.DEVNULL)
        cls.addClassCleanup(lambda: (nginx.terminate(), nginx.wait(timeout=30)))
        ts.wait_for(lambda: cls.ask("GET", "/api/v1/health")[0] == 200, "nginx answers", timeout=20)

    @classmethod
    def ask(cls, method, path, body=None, source="127.0.0.2", direct=False, headers=None, pause=0):
        """(status, body, transfer encoding) through nginx or `direct`; `pause` s after the first 64 KB read."""
        c = http.client.HTTPConnection("127.0.0.1", cls.service.port if direct else cls.port, timeout=60,
                                       source_address=(source, 0))
        try:
            c.request(method, path, body, {"Content-Type": "application/json", **(headers or {})})
            r = c.getresponse()
            first = r.read(65536) if pause else b""
            time.sleep(pause)
            return r.status, first + r.read(), r.getheader("Transfer-Encoding")
        except OSError as e:
            return None, repr(e).encode(), None
        finally:
            c.close()

    def test_slow_headers_are_cut_by_nginx_and_health_answers(self):
        slow, slowest, cut = ts.slow_clients(self.port, 8), 0, time.monotonic() + 25
        while slow and time.monotonic() < cut:   # client_header_timeout 10s: the whole header, not each read
            began = time.monotonic()
            self.assertEqual(self.ask("GET", "/api/v1/health")[0], 200)
            slowest = max(slowest, time.monotonic() - began)
            time.sleep(0.5)
        self.assertEqual((len(slow), slowest < 1), (0, True), f"slowest health answer {slowest:.2f} s")

    def test_bodies_over_the_limit_are_refused(self):
        head = b"POST /api/v1/session HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
        for name, extra, body, status in (("declared too long", b"Content-Length: 70000\r\n\r\n", b"{}", 413),
                                          ("chunked past the limit", b"Transfer-Encoding: chunked\r\n\r\n", b"x" * 300000, 413),
                                          ("chunked within it", b"Transfer-Encoding: chunked\r\n\r\n", b'{"user":"x"}' + b" " * 60000, 400)):
            with self.subTest(name):
                self.assertEqual(exchange(self.port, head + extra, body, chunked=b"chunked" in extra)[0], status)

    def test_a_report_streams_through(self):
        # A year of 10903 read slowly: nginx passes it on as it comes and never spools it to a file.
        args, auth = ("POST", "/api/v1/reports/10903/run?format=csv", json.dumps({"period": "2024"})), {"Authorization": f"Bearer {self.token}"}
        status, streamed, encoding = self.ask(*args, headers=auth, pause=2)
        self.assertEqual((status, encoding, len(streamed) > 8 << 20), (200, "chunked", True))
        self.assertEqual(streamed, self.ask(*args, headers=auth, direct=True)[1])
        with open(self.log) as f:
            self.assertNotIn("buffered to a temporary file", f.read())

    def test_throttle_sees_the_client_address(self):
        wrong, right = (json.dumps({"user": "boss", "password": p}) for p in ("wrong-password", "boss-password"))
        self.assertIn(429, [self.ask("POST", "/api/v1/session", wrong)[0] for _ in range(8)])
        # (source, straight to the service, X-Forwarded-For sent by the client, status)
        for source, direct, forged, status in (("127.0.0.2", False, None, 429), ("127.0.0.3", False, None, 200),
                                               ("127.0.0.3", False, "127.0.0.2", 200), ("127.0.0.4", True, "127.0.0.2", 200)):
            with self.subTest(source=source, direct=direct, forged=forged):
                got = self.ask("POST", "/api/v1/session", right, source, direct, forged and {"X-Forwarded-For": forged})
                self.assertEqual(got[0], status, got[1])


if __name__ == "__main__":
    if not os.path.exists(NGINX):   # 77: CTest reports the suite as skipped
        print("nginx is not installed (scripts/setup-deps.sh installs nginx-light), skipped", file=sys.stderr)
        sys.exit(77)
    unittest.main(argv=sys.argv[:1], verbosity=1)
