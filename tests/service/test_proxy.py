"""velvip-server behind Debian's nginx with the shipped site (packaging/nginx/velvip.conf, its listen line
made a free loopback port without TLS): slow headers are held and cut by nginx, never by the service's
threads; bodies over the service's limit are refused, chunked ones too; a report streams through; the
sign-in throttle sees the client's address, taken from the proxy alone."""
import http.client, json, os, re, subprocess, sys, tempfile, time, unittest

sys.dont_write_bytecode = True
import test_service as ts   # takes the two programs from the command line
from test_hostile import exchange

NGINX = "/usr/sbin/nginx"
SITE = os.path.join(os.path.dirname(__file__), "../../packaging/nginx/velvip.conf")


@unittest.skipUnless(os.path.exists(NGINX), "nginx is not installed (scripts/setup-deps.sh installs nginx-light)")
class ProxyTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="velvip-proxy-")
        os.chmod(cls.tmp, 0o755)   # nginx's workers run as another user when the test runs as root
        db, store = os.path.join(cls.tmp, "chain.sqlite"), os.path.join(cls.tmp, "store.sqlite")
        subprocess.run([ts.REPORT, "make-demo", "--out", db, "--members", "3000", "--days", "366", "--start", "2024-01-01"],
                       check=True, capture_output=True)
        subprocess.run([ts.SERVER, "user", "add", "boss", "--password-stdin", "--head-office", "--store", store],
                       input=b"boss-password\n", check=True, capture_output=True)
        cls.service = ts.Service(cls.tmp, db, "--trusted-proxy", "127.0.0.1", store=store)
        cls.port = ts.free_port()
        with open(SITE) as f:
            site = re.sub(r"\n\s*ssl_\w+ [^\n]*", "", f.read())
        for shipped, here in (("server 127.0.0.1:8080;", f"server 127.0.0.1:{cls.service.port};"),
                              ("listen 443 ssl;", f"listen 127.0.0.1:{cls.port};")):
            assert shipped in site, shipped
            site = site.replace(shipped, here)
        cls.log = os.path.join(cls.tmp, "error.log")
        temp = " ".join(f"{kind}_temp_path {cls.tmp}/{kind};" for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
        with open(os.path.join(cls.tmp, "nginx.conf"), "w") as f:
            f.write(f"daemon off; pid {cls.tmp}/nginx.pid; error_log {cls.log} info;\nevents {{ worker_connections 256; }}\n"
                    f"http {{ access_log off; {temp}\n{site}\n}}\n")
        cls.nginx = subprocess.Popen([NGINX, "-p", cls.tmp, "-c", os.path.join(cls.tmp, "nginx.conf"), "-e", cls.log])
        ts.wait_for(lambda: cls.ask("GET", "/api/v1/health")[0] == 200, "nginx answers", timeout=20)

    @classmethod
    def tearDownClass(cls):
        cls.nginx.terminate()
        cls.nginx.wait(timeout=30)
        cls.service.stop()

    @classmethod
    def ask(cls, method, path, body=None, source="127.0.0.2", port=None, headers=None):
        """One request through nginx (or to `port`) from a loopback address of the client's own."""
        c = http.client.HTTPConnection("127.0.0.1", port or cls.port, timeout=60, source_address=(source, 0))
        try:
            c.request(method, path, body, {"Content-Type": "application/json", **(headers or {})})
            r = c.getresponse()
            return r.status, r.read(), r
        except OSError as e:
            return None, repr(e).encode(), None
        finally:
            c.close()

    def test_slow_headers_are_cut_by_nginx_and_health_answers(self):
        slow = ts.slow_clients(self.port, 8)
        try:
            slowest, cut = 0, time.monotonic() + 25
            while slow and time.monotonic() < cut:   # client_header_timeout 10s: the whole header, not each read
                began = time.monotonic()
                self.assertEqual(self.ask("GET", "/api/v1/health")[0], 200)
                slowest = max(slowest, time.monotonic() - began)
                time.sleep(0.5)
            self.assertEqual((slow, slowest < 1), ([], True), f"slowest health answer {slowest:.2f} s")
        finally:
            for c in slow:
                c.close()

    def test_bodies_over_the_limit_are_refused(self):
        head = b"POST /api/v1/session HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
        for name, extra, body, chunked, status in (
                ("declared too long", b"Content-Length: 70000\r\n\r\n", b"{}", False, 413),
                ("chunked past the limit", b"Transfer-Encoding: chunked\r\n\r\n", b"x" * 300000, True, 413),
                ("chunked within it", b"Transfer-Encoding: chunked\r\n\r\n", b'{"user":"x"}' + b" " * 60000, True, 400)):
            with self.subTest(name):
                self.assertEqual(exchange(self.port, head + extra, body, chunked)[0], status)

    def test_a_report_streams_through(self):
        # A year of 10903 read slowly: nginx passes it on as it comes and never spools it to a file.
        token = subprocess.run([ts.SERVER, "token", "add", "boss", "--store", os.path.join(self.tmp, "store.sqlite")],
                               capture_output=True, check=True, text=True).stdout.strip()
        path, body, auth = "/api/v1/reports/10903/run?format=csv", json.dumps({"period": "2024"}), {"Authorization": f"Bearer {token}"}
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        c.request("POST", path, body, {"Content-Type": "application/json", **auth})
        r = c.getresponse()
        first = r.read(65536)
        time.sleep(2)
        streamed = first + r.read()
        c.close()
        self.assertEqual((r.status, r.getheader("Transfer-Encoding")), (200, "chunked"))
        self.assertEqual(streamed, self.ask("POST", path, body, port=self.service.port, headers=auth)[1])
        self.assertGreater(len(streamed), 8 << 20)
        with open(self.log) as f:
            self.assertNotIn("buffered to a temporary file", f.read())

    def test_throttle_sees_the_client_address(self):
        wrong, right = json.dumps({"user": "boss", "password": "wrong-password"}), json.dumps({"user": "boss", "password": "boss-password"})
        statuses = [self.ask("POST", "/api/v1/session", wrong, source="127.0.0.2")[0] for _ in range(8)]
        self.assertIn(429, statuses)
        # (source, port: nginx or the service itself, X-Forwarded-For sent by the client, status)
        for source, port, forged, status in (("127.0.0.2", None, None, 429), ("127.0.0.3", None, None, 200),
                                             ("127.0.0.3", None, "127.0.0.2", 200), ("127.0.0.4", "direct", "127.0.0.2", 200)):
            with self.subTest(source=source, port=port, forged=forged):
                got = self.ask("POST", "/api/v1/session", right, source=source, port=port and self.service.port,
                               headers=forged and {"X-Forwarded-For": forged})
                self.assertEqual(got[0], status, got[1])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=1)
