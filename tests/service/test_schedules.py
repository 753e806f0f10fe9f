"""Scheduled deliveries of velvip-server to a real SMTP server on loopback (aiosmtpd): per-branch split
against velvip-report, head-office message through the API, exactly once across restarts and instances,
transient and permanent failures, folder delivery, a clock that jumps over a slot."""
import asyncio, email, email.policy, io, json, os, signal, sqlite3, subprocess, sys, tempfile, threading, time, unittest
import openpyxl
from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult

sys.dont_write_bytecode = True   # no __pycache__ beside the sources
sys.path.insert(0, os.path.dirname(__file__))
import test_service as ts   # the service harness and the OpenAPI check; takes the two program paths
SERVER, REPORT = ts.SERVER, ts.REPORT
FAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"

USERS = (("boss", None, "boss@hq.test"), ("m1", "001", "m1@b1.test"), ("m2", "002", "m2@b2.test"),
         ("m2b", "002", "m2b@b2.test"), ("quiet", "003", None))
CONTEXT = lambda b: [a for k, v in (("ISBranch", "1"), ("BranchNum", b), ("SVCardShareType", "1"), ("ScopeBranchNum", b))
                     for a in ("--context", f"{k}={v}")]


class Sink:
    """An SMTP handler that answers each DATA by the next step of its script (default: accept)."""
    def __init__(self):
        self.messages, self.script, self.data_calls = [], [], 0

    async def handle_DATA(self, server, session, envelope):
        self.data_calls += 1
        step = self.script.pop(0) if self.script else "ok"
        if step == "ok":
            self.messages.append((sorted(envelope.rcpt_tos), email.message_from_bytes(envelope.content, policy=email.policy.default)))
            return "250 OK"
        if step == "hang":
            await asyncio.sleep(60)
        if step == "drop":
            server.transport.close()
        return step if step[0].isdigit() else "451 late"


def smtp_server(tls=False):
    sink, port = Sink(), ts.free_port()
    kw = {}
    if tls:
        import ssl
        ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        ctx.load_cert_chain(CERT, KEY)
        kw = dict(tls_context=ctx, require_starttls=True, auth_required=True, auth_require_tls=True,
                  authenticator=lambda srv, sess, env, mech, data: AuthResult(
                      success=(data.login, data.password) == (b"mailer", b"s3cret pass")))
    controller = Controller(sink, hostname="127.0.0.1", port=port, **kw)
    controller.start()
    return sink, controller, [f"--smtp=smtp://127.0.0.1:{port}", "--smtp-from=reports@hq.test"] + (
        ["--smtp-user=mailer", f"--smtp-password-file={PASSWORD}", f"--smtp-ca={CERT}"] if tls else [])


def setUpModule():
    global TMP, DB, CERT, KEY, PASSWORD
    TMP = tempfile.mkdtemp(prefix="velvip-schedules-")
    ts.TMP, DB = TMP, os.path.join(TMP, "chain.sqlite")
    with open(os.path.join(os.path.dirname(__file__), "../../apps/velvip-server/openapi.json")) as f:
        ts.Api.spec = json.load(f)
    subprocess.run([REPORT, "make-demo", "--out", DB, "--members", "300", "--days", "60", "--start", "2024-01-01"],
                   check=True, capture_output=True)
    CERT, KEY, PASSWORD = (os.path.join(TMP, n) for n in ("cert.pem", "key.pem", "smtp-password"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", KEY, "-out", CERT, "-days", "1",
                    "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"], check=True, capture_output=True)
    with open(PASSWORD, "w") as f:
        f.write("s3cret pass\n")


class Schedules(unittest.TestCase):
    def setUp(self):
        self.use_store(os.path.join(tempfile.mkdtemp(dir=TMP), "store.sqlite"))
        self.services = []

    def use_store(self, store):
        self.store = store
        for name, branch, address in USERS:
            where = ["--branch", branch] if branch else ["--head-office"]
            subprocess.run([SERVER, "user", "add", name, "--password-stdin", *where, *(["--email", address] if address else []),
                            "--store", self.store], input=f"{name}-password\n".encode(), check=True)

    def tearDown(self):
        for s in self.services:
            if s.proc.poll() is None:
                s.stop()

    def serve(self, *args):
        service = ts.Service(TMP, DB, "--schedule-poll", "1", "--retry-seconds", "1", *args, store=self.store)
        self.services.append(service)
        return service

    def cli(self, *args, check=True):
        return subprocess.run([SERVER, "schedule", *args, "--store", self.store], capture_output=True, text=True, check=check)

    def log(self, sid):
        api = ts.Api(self.services[-1].port).login("boss", "boss-password")
        r, payload = api.call("GET", f"/schedules/{sid}/deliveries")
        return json.loads(payload)

    def settle(self, sid, count, states=("sent", "failed-permanent")):
        """The delivery log once `count` deliveries reached a final state."""
        for _ in range(240):
            log = self.log(sid)
            if len(log) >= count and all(d["state"] in states for d in log):
                return log
            time.sleep(0.5)
        self.fail(f"deliveries did not settle: {log}")

    def test_branch_split_sends_each_branch_its_own_rows(self):
        pg = os.environ.get("VELVIP_TEST_PG")
        for fmt, tls, store in (("csv", False, None), ("xlsx", True, pg and f"{pg};Schema=schedules_{os.getpid()}")):
            with self.subTest(format=fmt, starttls=tls, postgresql=bool(store)):
                if store:
                    self.use_store(store)
                sink, controller, smtp = smtp_server(tls)
                folder = tempfile.mkdtemp(dir=TMP)
                try:
                    # Two instances on one store (SQLite, or PostgreSQL when there is a test cluster):
                    # each slot and branch still goes out once.
                    self.serve(*smtp), self.serve(*smtp)
                    sid = self.cli("add", "--report", "10903", "--period", "上月", "--format", fmt, "--split", "branch",
                                   "--cron", "0 7 1 * *", "--to-branch-users", "--folder", folder).stdout.strip()
                    self.cli("run-now", sid, "--slot", "2024-03-01")
                    log = self.settle(sid, 2)
                    self.assertEqual({(d["branch"], d["state"], d["slot"]) for d in log},
                                     {("001", "sent", "2024-03-01T07:00"), ("002", "sent", "2024-03-01T07:00")})
                    self.assertIn("已经排过队", self.cli("run-now", sid, "--slot", "2024-03-01").stdout)
                    time.sleep(2)
                    self.assertEqual(sorted(to for to, _ in sink.messages), [["m1@b1.test"], ["m2@b2.test", "m2b@b2.test"]])
                    for to, msg in sink.messages:
                        branch = "001" if to == ["m1@b1.test"] else "002"
                        self.assertIn(f"分店 {branch}", msg["Subject"])
                        self.assertIn("行数", msg.get_body(("plain",)).get_content())
                        self.assertIn("<li>", msg.get_body(("html",)).get_content())
                        part = next(msg.iter_attachments())
                        name = part.get_filename()
                        self.assertTrue(name.endswith(f"_10903_2024-02-01至2024-02-29_{branch}.{fmt}"), name)
                        subprocess.run([REPORT, "run", "10903", "--db", DB, "--period", "2024-02", "--format", fmt, "--bom",
                                        "--out", os.path.join(TMP, "expected." + fmt), *CONTEXT(branch)], check=True, capture_output=True)
                        with open(os.path.join(TMP, "expected." + fmt), "rb") as f:
                            want = f.read()
                        self.assertEqual(cells(fmt, part.get_payload(decode=True)), cells(fmt, want))
                        with open(os.path.join(folder, name), "rb") as f:
                            self.assertEqual(cells(fmt, f.read()), cells(fmt, want))
                    self.assertEqual(len(os.listdir(folder)), 2)   # no temporary files left
                finally:
                    for s in self.services:
                        s.stop()
                    self.services.clear()
                    controller.stop()

    def test_head_office_through_the_api(self):
        sink, controller, smtp = smtp_server()
        try:
            service = self.serve(*smtp)
            boss = ts.Api(service.port).login("boss", "boss-password")
            shop = ts.Api(service.port).login("m1", "m1-password")
            body = {"report": 10901, "filter": {"period": "上月"}, "format": "pdf", "split": "none",
                    "to": ["boss@hq.test"], "cron": "0 7 1 * *"}
            for api, path, status in ((shop, "/schedules", 403), (boss, "/schedules", 201)):
                r, payload = api.call("POST", path, body)
                self.assertEqual(r.status, status, payload)
            sid = json.loads(payload)["id"]
            self.assertEqual(shop.call("GET", "/schedules")[0].status, 403)
            r, payload = boss.call("POST", "/schedules", dict(body, cron="0 7 1 *", format="doc"))
            self.assertEqual(r.status, 400)
            self.assertIn("五项", json.loads(payload)["error"])
            r, payload = boss.call("POST", f"/schedules/{sid}/run", {"slot": "2024-03-01"})
            self.assertEqual((r.status, json.loads(payload)["queued"]), (202, 1))
            self.settle(sid, 1)
            (to, msg), = sink.messages
            part = next(msg.iter_attachments())
            self.assertEqual(part.get_content_type(), "application/pdf")
            subprocess.run([REPORT, "run", "10901", "--db", DB, "--period", "2024-02", "--format", "pdf", "--out",
                            os.path.join(TMP, "ledger.pdf")], check=True, capture_output=True)
            with open(os.path.join(TMP, "ledger.pdf"), "rb") as f:
                self.assertEqual(cells("pdf", part.get_payload(decode=True)), cells("pdf", f.read()))
            self.assertEqual(boss.call("POST", f"/schedules/{sid}/disable")[0].status, 204)
            self.assertEqual(boss.call("POST", f"/schedules/{sid}/run", {})[0].status, 409)
        finally:
            controller.stop()

    def test_failures_retry_or_stop(self):
        # (SMTP answers in order, final state, messages received, attempts)
        cases = (("refused", ["550 no such mailbox"], "failed-permanent", 0, 1),
                 ("busy then accepted", ["451 try later"], "sent", 1, 2),
                 ("hanging then accepted", ["hang"], "sent", 1, 2),
                 ("dropped then accepted", ["drop"], "sent", 1, 2))
        sink, controller, smtp = smtp_server()
        try:
            service = self.serve(*smtp, "--smtp-timeout", "3", "--attach-limit", "0", "--portal-url", "https://reports.test/")
            for name, script, state, received, attempts in cases:
                with self.subTest(name):
                    sink.messages.clear()
                    sink.script[:] = script
                    sid = self.cli("add", "--report", "10902", "--set", "GroupBy=1", "--period", "上月", "--format", "csv",
                                   "--split", "none", "--to", "boss@hq.test", "--cron", "0 7 1 * *").stdout.strip()
                    self.cli("run-now", sid, "--slot", "2024-03-01")
                    (d,) = self.settle(sid, 1)
                    self.assertEqual((d["state"], d["attempts"], len(sink.messages)), (state, attempts, received), d)
                    for _, msg in sink.messages:   # over the size limit: a link instead of the file
                        self.assertEqual(list(msg.iter_attachments()), [])
                        self.assertIn("https://reports.test/#/reports/10902?period=2024-02-01..2024-02-29&GroupBy=1",
                                      msg.get_body(("plain",)).get_content())
            health = json.loads(ts.Api(service.port).call("GET", "/health")[1])
            self.assertEqual(health["deliveries"], {"failed": 1, "retrying": 0})
        finally:
            controller.stop()

    def test_restart_sends_a_slot_once(self):
        sink, controller, smtp = smtp_server()
        try:
            sid = self.cli("add", "--report", "10905", "--set", "GroupBy=1", "--period", "2024-02", "--format", "csv",
                           "--split", "none", "--to", "boss@hq.test", "--cron", "0 7 * * *").stdout.strip()
            # Killed while the server holds the message: taken up again once its lease runs out.
            sink.script[:] = ["hang"]
            service = self.serve(*smtp, "--delivery-lease", "3")
            self.cli("run-now", sid, "--slot", "2024-03-01")
            for _ in range(200):
                if sink.data_calls:
                    break
                time.sleep(0.2)
            service.proc.send_signal(signal.SIGKILL)
            service.proc.wait()
            self.serve(*smtp, "--delivery-lease", "3")
            (d,) = self.settle(sid, 1)
            self.assertEqual((d["state"], d["attempts"], len(sink.messages)), ("sent", 2, 1))
            # Down for three days: only the last slot within the catch-up window goes, once, however often restarted.
            with sqlite3.connect(self.store) as db:
                db.execute("UPDATE schedules SET checked_until = checked_until - 3 * 86400")
            for _ in range(2):
                self.services[-1].stop()
                self.serve(*smtp, "--catch-up", "24")
                time.sleep(3)
            log = self.settle(sid, 2)
            self.assertEqual((len(log), len(sink.messages)), (2, 2), log)
        finally:
            controller.stop()

    def test_clock_jumps_over_a_slot(self):
        # The service's clock (libfaketime, read again on every call) jumps past 07:00 in Shanghai,
        # back before it and past it again: the slot goes out once.
        if not os.path.exists(FAKETIME):
            self.skipTest("libfaketime is not installed")
        if "libasan" in subprocess.run(["ldd", SERVER], capture_output=True, text=True).stdout:
            self.skipTest("AddressSanitizer must come first in a process, before libfaketime")
        clock = os.path.join(TMP, "clock")

        def set_clock(utc):
            with open(clock, "w") as f:
                f.write(f"@{utc}\n")
        env = dict(os.environ, LD_PRELOAD=FAKETIME, FAKETIME_TIMESTAMP_FILE=clock, FAKETIME_NO_CACHE="1", TZ="UTC")
        set_clock("2024-02-29 22:59:00")
        sid = subprocess.run([SERVER, "schedule", "add", "--report", "10905", "--set", "GroupBy=1", "--period", "昨天",
                              "--format", "csv", "--split", "none", "--to", "boss@hq.test", "--cron", "0 7 * * *",
                              "--store", self.store], env=env, capture_output=True, text=True, check=True).stdout.strip()
        sink, controller, smtp = smtp_server()
        try:
            self.services.append(ts.Service(TMP, DB, "--schedule-poll", "1", *smtp, env=env, store=self.store))
            for utc in ("2024-02-29 23:30:00", "2024-02-29 22:59:30", "2024-02-29 23:10:00"):
                set_clock(utc)
                time.sleep(4)
            with sqlite3.connect(self.store) as db:
                log = db.execute("SELECT slot, state FROM deliveries WHERE schedule = ?", (sid,)).fetchall()
            self.assertEqual((log, len(sink.messages)), ([("2024-03-01T07:00", "sent")], 1))
        finally:
            controller.stop()


def cells(fmt, data):
    if fmt == "xlsx":
        return [[c for c in row] for row in openpyxl.load_workbook(io.BytesIO(data), read_only=True).active.iter_rows(values_only=True)]
    return ts.text_of(fmt, data)


if __name__ == "__main__":
    unittest.main()
