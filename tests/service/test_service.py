"""velvip-server through HTTP: the API against velvip-report, a branch user's scope under attack,
sessions and refusals. Every JSON answer is checked against the service's OpenAPI document."""
import atexit, fcntl, functools, http.client, io, json, os, re, select, shutil, signal, socket, sqlite3, struct, subprocess, sys
import tempfile, termios, threading, time, unittest, urllib.parse, zipfile
import jsonschema

SERVER, REPORT = sys.argv.pop(1), sys.argv.pop(1)
BRANCH, PERIOD = "002", "2024-02"
TWO_MONTHS = {"BDate": "2024-01-01", "EDate": "2024-02-29"}   # 10903's lines of it: about 2 MB of CSV
FAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
BASE = {10901: {}, 10902: {"GroupBy": 1}, 10903: {}, 10904: {"GroupBy": 2}, 10905: {"GroupBy": 1}, 10906: {}}
# velvip-report's arguments for a run as a user of branch `b` makes it.
CONTEXT = lambda b: [a for k, v in (("ISBranch", "1"), ("BranchNum", b), ("SVCardShareType", "1"))
                     for a in ("--context", f"{k}={v}")] + ["--branch-scope", b]
BRANCH_KEYS = {10901: "BranchNum", 10902: "BranchNum", 10903: "BranchNum", 10904: "StockNo", 10905: "StockNo"}
CARD_KEYS = {10901: "VipNum", 10902: "VipNum", 10903: "VipNum", 10904: "CardID", 10905: "CardID"}
# What a branch (every ? is its number) may see of each lookup list, by SQL of the test's own.
CHAIN_WIDE = "SELECT FNumber FROM {} WHERE ? <> ''"
OWN_LOOKUPS = {
    "branches": "SELECT FNumber FROM branch WHERE FParentID = 0 AND FNumber = ?",
    "pos": "SELECT p.FNumber FROM pos p JOIN branch s ON s.FID = p.FBranchID WHERE s.FNumber = ?",
    "cashiers": "SELECT e.FNumber FROM employee e JOIN branch s ON s.FID = e.FBranchID WHERE e.FIsCashier = 1 AND s.FNumber = ?",
    "cards": "SELECT c.FNumber FROM member_card c JOIN branch s ON s.FID = c.FBranchID WHERE c.FDeleted = 0 AND (s.FNumber = ? "
             "OR c.FID IN (SELECT m.FCardID FROM card_movement m JOIN branch t ON t.FID = m.FBranchID WHERE t.FNumber = ?))",
    "customers": "SELECT u.FNumber FROM customer u JOIN sale_bill b ON b.FCustomerID = u.FID JOIN branch s ON s.FID = b.FBranchID "
                 "WHERE s.FNumber = ?",
    "items": CHAIN_WIDE.format("item"), "card-types": CHAIN_WIDE.format("card_type"), "brands": CHAIN_WIDE.format("brand"),
}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Api:
    """A client that keeps its cookie and CSRF token and checks each answer against the document."""
    # Every answer, in every test class, is checked against the document the service serves.
    with open(os.path.join(os.path.dirname(__file__), "../../apps/velvip-server/openapi.json"), encoding="utf-8") as f:
        spec = json.load(f)

    def __init__(self, port):
        self.port, self.cookie, self.csrf = port, None, None

    def call(self, method, path, body=None, headers=None, csrf=True, raw=None):
        h = dict(headers or {})
        if self.cookie:
            h["Cookie"] = self.cookie
        if csrf and self.csrf and method != "GET":
            h.setdefault("X-CSRF-Token", self.csrf)
        data = raw if raw is not None else (None if body is None else json.dumps(body, ensure_ascii=False).encode())
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=120)
        c.request(method, urllib.parse.quote("/api/v1" + path, safe="/?=&"), body=data, headers=h)
        r = c.getresponse()
        payload = r.read()
        c.close()
        if r.getheader("Set-Cookie", "").startswith("velvip_session="):
            self.cookie = r.getheader("Set-Cookie").split(";")[0]
        check_documented(method, path, r, payload)
        return r, payload

    def post_socket(self, path, body, rcvbuf=None):
        """A socket on which this session's POST of `body` (a dict) is sent, for the answer to be read by hand;
        `rcvbuf`: a small receive buffer, so that the service waits on the reader."""
        body = json.dumps(body).encode()
        c = socket.socket()
        if rcvbuf:
            c.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
        c.connect(("127.0.0.1", self.port))
        c.sendall(f"POST /api/v1{path} HTTP/1.1\r\nHost: x\r\nCookie: {self.cookie}\r\nX-CSRF-Token: {self.csrf}\r\n"
                  f"Content-Length: {len(body)}\r\n\r\n".encode() + body)
        return c

    def login(self, user, password):
        r, body = self.call("POST", "/session", {"user": user, "password": password})
        assert r.status == 200, body
        self.csrf = json.loads(body)["csrf"]
        return self


def check_documented(method, path, r, payload):
    path = path.split("?")[0]
    for template, ops in Api.spec["paths"].items():
        if re.fullmatch(re.sub(r"\{[^}]+\}", "[^/]+", template), path) and method.lower() in ops:
            responses = ops[method.lower()]["responses"]
            assert str(r.status) in responses, f"{method} {path}: {r.status} not documented"
            resp = responses[str(r.status)]
            if "$ref" in resp:
                resp = Api.spec["components"]["responses"]["Error"]
            ctype = r.getheader("Content-Type", "").split(";")[0]
            schema = resp.get("content", {}).get(ctype, {}).get("schema")
            assert schema or not resp.get("content"), f"{method} {path}: {ctype} not documented"
            if schema and ctype == "application/json":
                jsonschema.validate(json.loads(payload), dict(schema, components=Api.spec["components"]))
            return
    if r.status != 404:
        raise AssertionError(f"{method} {path} not in the document")


class Service:
    def __init__(self, tmp, db, *args, env=None, store=None):
        self.port = free_port()
        self.proc = subprocess.Popen([SERVER, *(["--db", db] if "=" not in db else ["--props", db]),
                                      "--store", store or os.path.join(tmp, "store.sqlite"),
                                      "--listen", f"127.0.0.1:{self.port}", *args],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     env=dict(env or os.environ, TMPDIR=tmp))   # what a killed service leaves goes with tmp
        self.proc.stdout.readline()   # the line saying where it listens

    def workers(self):
        return [int(line.split()[0]) for line in subprocess.run(["ps", "-o", "pid=", "--ppid", str(self.proc.pid)],
                                                                capture_output=True, text=True).stdout.splitlines()]

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.stdout.close()
        return self.proc.wait(timeout=30)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.stop()

    def stop_workers(self, api):
        """Starts a worker if none runs, then stops every worker (SIGSTOP); their process ids."""
        api.call("GET", "/lookups/items?limit=1")
        workers = self.workers()
        for pid in workers:
            os.kill(pid, signal.SIGSTOP)
        return workers


def load(api):
    """(busy, queued) of the worker pool, as health tells head office."""
    health = json.loads(api.call("GET", "/health")[1])
    return health["busy"], health["queued"]


def refuses_connections(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=2).close()
        return False
    except OSError:
        return True


def faked_clock(path, **env):
    """An environment whose programs read the time from libfaketime's file `path`, read again on every
    call; AddressSanitizer's runtime, when a program is built with it, is preloaded ahead of it, and
    its allocator no longer reads the clock (libfaketime would open its file inside the allocator's
    lock and deadlock)."""
    with open(path, "w") as f:
        f.write("+0\n")
    asan = re.findall(r"libasan\S* => (\S+)", subprocess.run(["ldd", SERVER], capture_output=True, text=True).stdout)
    if asan:
        options = os.environ.get("ASAN_OPTIONS", "")
        env["ASAN_OPTIONS"] = (options + ":" if options else "") + "allocator_release_to_os_interval_ms=-1"
    return dict(os.environ, LD_PRELOAD=":".join(asan + [FAKETIME]), FAKETIME_TIMESTAMP_FILE=path, FAKETIME_NO_CACHE="1", **env)


def wait_for(condition, what, timeout=60):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting until {what}")
        time.sleep(0.02)


def request_reached(pids):
    """A request waits, unread, on the standard input of one of these (stopped) workers."""
    def waiting(pid):
        try:
            fd = os.open(f"/proc/{pid}/fd/0", os.O_RDONLY | os.O_NONBLOCK)
        except OSError:
            return False
        try:
            return struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, b"\0" * 4))[0] > 0
        finally:
            os.close(fd)
    return any(waiting(pid) for pid in pids)


def ended(pid):
    """The process is gone or a zombie (its parent reaps it when it next looks)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except FileNotFoundError:
        return True


def request_at_a_worker(service, pids):
    """Stops the workers started since pids was taken (the pool starts one for a request when none
    is idle) and tells whether the request is at a worker: unread on a stopped one's standard
    input, or with one started for it (which may have read it already)."""
    started = set(service.workers()) - set(pids)
    for pid in started:
        os.kill(pid, signal.SIGSTOP)
        pids.append(pid)
    return bool(started) or request_reached(pids)


def text_of(fmt, payload):
    if fmt == "xlsx":
        with zipfile.ZipFile(io.BytesIO(payload)) as z:
            return "".join(z.read(n).decode() for n in z.namelist() if n.endswith(".xml"))
    if fmt == "pdf":
        return subprocess.run(["pdftotext", "-", "-"], input=payload, capture_output=True, check=True).stdout.decode()
    return payload.decode("utf-8-sig")


def scratch(prefix):
    """A temporary folder removed when the suite's process ends; VELVIP_KEEP_TMP=1 keeps it to look into."""
    path = tempfile.mkdtemp(prefix=prefix)
    if not os.environ.get("VELVIP_KEEP_TMP"):
        atexit.register(shutil.rmtree, path, True)
    return path


def setUpModule():
    global TMP, DB
    TMP = scratch("velvip-server-")
    DB = os.path.join(TMP, "chain.sqlite")
    subprocess.run([REPORT, "make-demo", "--out", DB, "--members", "300", "--days", "60", "--start", "2024-01-01"], check=True,
                   capture_output=True)
    for name, where in (("boss", ["--head-office"]), ("shop", ["--branch", BRANCH, "--db", DB]),
                        ("shop1", ["--branch", "001", "--db", DB])):
        subprocess.run([SERVER, "user", "add", name, "--password-stdin", *where, "--store", os.path.join(TMP, "store.sqlite")],
                       input=f"{name}-password\n".encode(), check=True)


def psql(props, sql, database=None, run=functools.partial(subprocess.run, capture_output=True, text=True)):
    kv = dict(p.split("=", 1) for p in props.split(";"))
    return run([os.path.join(os.environ.get("PG_CLUSTER_BINDIR", "/usr/bin"), "psql"), "-v", "ON_ERROR_STOP=1",
                f"host={kv['Host']} port={kv['Port']} user={kv['User']} dbname={database or kv['Database']}",
                "-c", sql], env=dict(os.environ, PGPASSWORD=kv["Password"]))


def stores():
    """The service's store as an SQLite file and, with a test cluster, as a schema of its database."""
    found = [("sqlite", os.path.join(TMP, "engine-store.sqlite"), lambda sql: sqlite_exec(os.path.join(TMP, "engine-store.sqlite"), sql))]
    if os.environ.get("VELVIP_TEST_PG"):
        props = os.environ["VELVIP_TEST_PG"] + f";Schema=store_{os.getpid()}"
        found.append(("postgresql", props, lambda sql: psql(props, f"SET search_path TO store_{os.getpid()}; {sql}").returncode == 0))
    return found


def sqlite_exec(path, sql):
    try:
        with sqlite3.connect(path) as c:
            c.execute(sql)
        return True
    except sqlite3.DatabaseError:
        return False


def manage(store, *args, password=None):
    return subprocess.run([SERVER, *args, "--store", store], input=password and f"{password}\n".encode(), capture_output=True)


@functools.cache
def postgres_chains():
    """The demo chain in a new database of the test cluster: on the primary, on its standby, and on the
    primary naming its two standbys."""
    props = os.environ.get("VELVIP_TEST_PG")
    if not props:
        if os.environ.get("VELVIP_REQUIRE_PG") == "1":
            raise RuntimeError("VELVIP_REQUIRE_PG=1 but VELVIP_TEST_PG is not set")
        return []
    name = f"velvip_service_{os.getpid()}"
    assert psql(props, f"CREATE DATABASE {name}", "postgres").returncode == 0
    primary = props.replace("Database=postgres", f"Database={name}")
    subprocess.run([REPORT, "make-demo", "--props", primary, "--members", "300", "--days", "60", "--start", "2024-01-01"], check=True,
                   capture_output=True)
    chains = [primary]
    standby = os.environ.get("VELVIP_TEST_PG_STANDBY", "").replace("Database=postgres", f"Database={name}")
    # Until the standby has replayed the chain; then also the primary naming both standbys.
    for _ in range(60 if standby else 0):
        if subprocess.run([REPORT, "run", "10906", "--props", standby, "--format", "csv"], capture_output=True).returncode == 0:
            others = [os.environ.get(v, "") for v in ("VELVIP_TEST_PG_STANDBY", "VELVIP_TEST_PG_STANDBY2")]
            if not all(others):
                return chains + [standby]
            ports = ",".join("127.0.0.1:" + dict(p.split("=", 1) for p in o.split(";"))["Port"] for o in others)
            return chains + [standby, f"{primary};Standbys={ports};MaxLagSeconds=30"]
        time.sleep(0.5)
    if standby:
        raise RuntimeError("the standby did not replay the demo chain within 30 s")
    return chains


class ServiceTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp, cls.db = TMP, DB
        cls.service = Service(cls.tmp, cls.db)
        assert json.loads(Api(cls.service.port).call("GET", "/openapi.json")[1]) == Api.spec
        cls.boss = Api(cls.service.port).login("boss", "boss-password")
        cls.shop = Api(cls.service.port).login("shop", "shop-password")
        with sqlite3.connect(cls.db) as c:
            cls.foreign = [n for (n,) in c.execute("SELECT FName FROM branch WHERE FNumber <> ?", (BRANCH,))]
            cls.foreign += [b for (b,) in c.execute(
                "SELECT b.FBillNo FROM sale_bill b JOIN branch s ON s.FID = b.FBranchID WHERE s.FNumber <> ? "
                "AND b.FDate >= '2024-02-01' AND b.FCardID IS NOT NULL", (BRANCH,))]
            cls.own = c.execute("SELECT FName FROM branch WHERE FNumber = ?", (BRANCH,)).fetchone()[0]
            cls.foreign_card = c.execute("SELECT c.FNumber FROM member_card c JOIN branch s ON s.FID = c.FBranchID "
                                         "WHERE s.FNumber <> ? AND c.FID NOT IN (SELECT m.FCardID FROM card_movement m "
                                         "JOIN branch t ON t.FID = m.FBranchID WHERE t.FNumber = ?) LIMIT 1",
                                         (BRANCH, BRANCH)).fetchone()[0]

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()

    def cli_json(self, rpt, filt, branch, chain):
        path = os.path.join(self.tmp, "filter.json")
        with open(path, "w") as f:
            json.dump(filt, f)
        args = ["--period", PERIOD] if rpt != 10906 else []
        source = ["--db", chain] if "=" not in chain else ["--props", chain]
        return subprocess.run([REPORT, "run", str(rpt), *source, "--filter-json", path, "--format", "json",
                               *args, *(CONTEXT(BRANCH) if branch else [])], capture_output=True, check=True).stdout

    def test_dates_are_wall_clock_in_any_zone(self):
        # A bound in the service's own daylight-saving gap is still a chain time: never dropped.
        filt = {"BDate": "2024-03-10 00:30", "EDate": "2024-12-31 23:59:59"}
        sets = [a for k, v in filt.items() for a in ("--set", f"{k}={v}")]
        expected = subprocess.run([REPORT, "run", "10903", "--db", self.db, *sets, "--format", "json"],
                                  capture_output=True, check=True, env=dict(os.environ, TZ="UTC")).stdout
        for zone in ("America/Havana", "Europe/Berlin", "Asia/Shanghai"):
            with Service(self.tmp, self.db, env=dict(os.environ, TZ=zone)) as service, self.subTest(zone=zone):
                r, payload = Api(service.port).login("boss", "boss-password").call("POST", "/reports/10903/run", filt)
                self.assertEqual((r.status, payload), (200, expected))

    def test_json_equals_command_line(self):
        for chain in [self.db] + postgres_chains():
            service = self.service if chain == self.db else Service(self.tmp, chain)
            users = (("head office", "boss"), ("branch", "shop"))
            apis = {who: Api(service.port).login(name, f"{name}-password") for who, name in users}
            try:
                for rpt, filt in BASE.items():
                    for who, api in apis.items():
                        with self.subTest(report=rpt, user=who, chain=chain.split(";")[2:3]):
                            body = dict(filt, period=PERIOD) if rpt != 10906 else filt
                            r, payload = api.call("POST", f"/reports/{rpt}/run", body)
                            self.assertEqual(r.status, 200, payload)
                            self.assertEqual(payload, self.cli_json(rpt, filt, who == "branch", chain))
                            # Rows first: the same object, the run's title block and filter after the rows.
                            r, first = api.call("POST", f"/reports/{rpt}/run?layout=rows-first", body)
                            self.assertEqual(json.loads(first), json.loads(payload))
                            self.assertEqual(list(json.loads(first))[:3], ["Header", "Fields", "Rows"])
            finally:
                if service is not self.service:
                    service.stop()

    def test_health_shows_each_server(self):
        replicated = [c for c in postgres_chains() if "Standbys=" in c]
        if not replicated:
            self.skipTest("no two standbys (VELVIP_TEST_PG_STANDBY2)")
        for props, states in ((replicated[0], ["up", "up", "up"]),
                              (replicated[0].replace("Standbys=", "Standbys=127.0.0.1:1,"), ["down", "up", "up", "up"])):
            with Service(self.tmp, props) as service:
                r, payload = Api(service.port).login("boss", "boss-password").call("GET", "/health")
                servers = json.loads(payload)["servers"]
                self.assertEqual([s["state"] for s in servers], states)
                self.assertEqual(servers[-1]["role"], "primary")
                self.assertNotIn(dict(p.split("=", 1) for p in props.split(";"))["Password"], payload.decode())
        # Standby 2 frozen (all its processes stopped, as on a frozen machine): runs and health skip it in seconds.
        pid_file = os.path.join(os.environ.get("PG_CLUSTER_DIR", "/-"), "standby2", "postmaster.pid")
        if os.path.exists(pid_file):
            with open(pid_file) as f, Service(self.tmp, replicated[0]) as service:
                postmaster, api = f.readline().strip(), Api(service.port).login("boss", "boss-password")
                run = lambda: api.call("POST", "/reports/10902/run", {**BASE[10902], "period": PERIOD})
                runs = [run(), run()]   # sessions on both standbys first
                frozen = [postmaster, *subprocess.run(["ps", "-o", "pid=", "--ppid", postmaster], capture_output=True, text=True).stdout.split()]
                signal_all = lambda sig: [os.kill(int(pid), sig) for pid in frozen]
                signal_all(signal.SIGSTOP)
                try:
                    runs += [run() for _ in range(4)] + [api.call("GET", "/health")]
                finally:
                    signal_all(signal.SIGCONT)
            expected = self.cli_json(10902, BASE[10902], False, replicated[0].split(";Standbys=")[0])
            self.assertEqual([(r.status, body) for r, body in runs[:6]], [(200, expected)] * 6)
            self.assertEqual([s["state"] for s in json.loads(runs[6][1])["servers"]], ["up", "down", "up"])

    def test_lock_wait_beyond_the_limit_answers_504(self):
        chains = postgres_chains()
        if not chains:
            self.skipTest("VELVIP_TEST_PG not set")
        holder = psql(chains[0], "BEGIN; LOCK TABLE topup; SELECT pg_sleep(8);",
                      run=functools.partial(subprocess.Popen, stdout=subprocess.DEVNULL))
        service = Service(self.tmp, chains[0] + ";LockTimeout=1")
        try:
            wait_for(lambda: "(1 row)" in psql(chains[0], "SELECT 1 FROM pg_locks l JOIN pg_class c ON c.oid = l.relation "
                                                          "WHERE c.relname = 'topup' AND l.granted AND l.mode = 'AccessExclusiveLock'").stdout,
                     "the other session holds the lock")
            r, payload = Api(service.port).login("boss", "boss-password").call("POST", "/reports/10905/run",
                                                                              dict(BASE[10905], period=PERIOD))
            self.assertEqual(r.status, 504, payload)
            self.assertIn("LockTimeout", json.loads(payload)["error"])
        finally:
            service.stop()
            holder.kill()
            holder.wait()

    def hostile_filters(self, rpt):
        if rpt not in BRANCH_KEYS:
            return [("plain", {}, (200,))]
        b, e = "B" + BRANCH_KEYS[rpt], "E" + BRANCH_KEYS[rpt]
        card = CARD_KEYS[rpt]
        return [("other branch", {b: "001", e: "001"}, (403,)), ("reversed", {b: "009", e: "001"}, (400, 403)),
                ("open end", {b: BRANCH, e: ""}, (200,)), ("open begin", {b: "", e: "009"}, (403,)),
                ("own", {b: BRANCH, e: BRANCH}, (200,)), ("injection", {b: "002' OR '1'='1"}, (403,)),
                ("wrong kind", {b: [1]}, (400,)), ("no branch keys", {}, (200,)),
                ("foreign card", {"B" + card: self.foreign_card, "E" + card: self.foreign_card}, (200,))]

    def test_branch_user_sees_only_its_branch(self):
        for rpt in BASE:
            for name, extra, allowed in self.hostile_filters(rpt):
                formats = ("json", "csv", "xlsx", "pdf") if name in ("own", "foreign card") else ("json", "csv")
                for fmt in formats:
                    with self.subTest(report=rpt, case=name, format=fmt):
                        body = dict(BASE[rpt], **extra, **({"period": PERIOD} if rpt != 10906 else {}))
                        r, payload = self.shop.call("POST", f"/reports/{rpt}/run?format={fmt}", body)
                        self.assertIn(r.status, allowed, payload)   # a refusal's error: checked against the document
                        if r.status != 200:
                            continue
                        text = text_of(fmt, payload)
                        self.assertEqual([f for f in self.foreign if f in text], [])
                        if rpt in (10902, 10904) and name != "foreign card":
                            self.assertIn(self.own, text)

    def test_lookups_keep_to_the_branch(self):
        r, payload = self.boss.call("GET", "/lookups/branches?limit=500")   # a branch's list: test_lookups_hold_no_other_branch
        self.assertEqual((r.status, set(self.foreign) & {i["name"] for i in json.loads(payload)["items"]} != set()), (200, True))
        r, payload = self.shop.call("GET", f"/lookups/cards?q={self.foreign_card}")
        self.assertEqual(json.loads(payload)["items"], [])
        fixed = {k["name"]: k.get("fixed") for k in json.loads(self.shop.call("GET", "/reports/10904/keys")[1])}
        self.assertEqual((fixed["BStockNo"], fixed["BDate"]), (BRANCH, None))
        r, payload = self.boss.call("GET", "/lookups/items?limit=2&offset=1")
        self.assertEqual((r.status, len(json.loads(payload)["items"])), (200, 2))

    def test_lookups_hold_no_other_branch(self):
        """Every lookup list, read whole by two branch users, is exactly what belongs to that branch."""
        for user, branch in (("shop", BRANCH), ("shop1", "001")):
            api = Api(self.service.port).login(user, f"{user}-password")
            for kind, sql in OWN_LOOKUPS.items():
                with self.subTest(user=user, lookup=kind):
                    got, offset, more = [], 0, True
                    while more:
                        r, payload = api.call("GET", f"/lookups/{kind}?limit=500&offset={offset}")
                        self.assertEqual(r.status, 200, payload)
                        page = json.loads(payload)
                        got, offset, more = got + [i["number"] for i in page["items"]], offset + 500, page["more"]
                    with sqlite3.connect(self.db) as c:
                        own = {n for (n,) in c.execute(sql, (branch,) * sql.count("?"))}
                    self.assertTrue(own)
                    self.assertEqual(sorted(got), sorted(own))
            with self.subTest(user=user, report=10901):   # its default lists cards without movements too
                r, payload = api.call("POST", "/reports/10901/run", {"period": PERIOD})
                page = json.loads(payload)
                listed = {row[page["Fields"].index("FCardId")] for row in page["Rows"]} - {"合计"}
                with sqlite3.connect(self.db) as c:
                    own = {n for (n,) in c.execute(OWN_LOOKUPS["cards"].replace("c.FDeleted = 0", "1 = 1"), (branch, branch))}
                self.assertEqual(sorted(listed), sorted(own))

    def test_drill_down_keeps_to_the_branch(self):
        body = dict(BASE[10902], period=PERIOD)
        r, payload = self.boss.call("POST", "/reports/10902/drill?row=0", body)
        foreign = json.loads(payload)
        self.assertEqual((r.status, foreign["report"]), (200, 10903))
        r, payload = self.shop.call("POST", "/reports/10903/run", foreign["filter"])   # an edited drill-down
        self.assertEqual(r.status, 403, payload)
        own = json.loads(self.shop.call("POST", "/reports/10902/drill?row=0", body)[1])
        self.assertEqual(own["filter"]["BBranchNum"], BRANCH)
        self.assertEqual(self.shop.call("POST", "/reports/10903/run", own["filter"])[0].status, 200)
        for row, status in (("99999", 404), ("-1", 400), ("x", 400)):
            self.assertEqual(self.shop.call("POST", f"/reports/10902/drill?row={row}", body)[0].status, status)

    def test_schemes_are_per_user_and_scoped(self):
        self.assertEqual(self.boss.call("PUT", "/reports/10903/schemes/全部分店", {"BBranchNum": "001"})[0].status, 204)
        self.assertEqual(json.loads(self.boss.call("GET", "/reports/10903/schemes")[1]), ["全部分店"])
        self.assertEqual(json.loads(self.shop.call("GET", "/reports/10903/schemes")[1]), [])
        self.assertEqual(self.shop.call("GET", "/reports/10903/schemes/全部分店")[0].status, 404)
        self.assertEqual(self.shop.call("PUT", "/reports/10903/schemes/x", {"BBranchNum": "001"})[0].status, 403)
        self.assertEqual(self.boss.call("DELETE", "/reports/10903/schemes/全部分店")[0].status, 204)

    def test_refusals(self):
        anon = Api(self.service.port)
        cases = [
            ("no session", anon, "GET", "/reports", None, {}, 401),
            ("no csrf", self.shop, "POST", "/reports/10906/run", {}, {"X-CSRF-Token": ""}, 403),
            ("wrong csrf", self.shop, "POST", "/reports/10906/run", {}, {"X-CSRF-Token": "x" * 43}, 403),
            ("malformed", self.shop, "POST", "/reports/10903/run", b"{\"BDate\": ", {}, 400),
            ("not an object", self.shop, "POST", "/reports/10903/run", b"[1]", {}, 400),
            ("oversized", self.shop, "POST", "/reports/10903/run", b"{\"a\":\"" + b"x" * 70000 + b"\"}", {}, 413),
            ("unknown report", self.shop, "POST", "/reports/10999/run", {}, {}, 404),
            ("unknown format", self.shop, "POST", "/reports/10906/run?format=exe", {}, {}, 400),
            ("layout of a download", self.shop, "POST", "/reports/10906/run?format=csv&layout=rows-first", {}, {}, 400),
            ("unknown key", self.shop, "POST", "/reports/10906/run", {"Bdate": "x"}, {}, 400),
            ("paging", self.shop, "GET", "/lookups/cards?limit=100000", None, {}, 400),
            ("control character in a search", self.shop, "GET", "/lookups/cards?q=8\x01", None, {}, 400),
            ("unknown lookup", self.shop, "GET", "/lookups/passwords", None, {}, 404),
            ("wrong password", anon, "POST", "/session", {"user": "shop", "password": "nope"}, {}, 401),
        ]
        for name, api, method, path, body, headers, status in cases:
            with self.subTest(case=name):
                raw = body if isinstance(body, bytes) else None
                r, payload = api.call(method, path, None if raw else body, headers, raw=raw)
                self.assertEqual(r.status, status, payload)   # with an error, as the document requires

    def test_download_names_and_audit(self):
        r, payload = self.boss.call("POST", "/reports/10902/run?format=csv", dict(BASE[10902], period=PERIOD))
        self.assertIn("filename*=UTF-8''%E4%BC%9A%E5%91%98", r.getheader("Content-Disposition"))
        self.assertTrue(payload.startswith("消费分店,".encode()))
        with sqlite3.connect(os.path.join(self.tmp, "store.sqlite")) as c:
            self.assertTrue(c.execute("SELECT rows FROM audit WHERE user = 'boss' AND format = 'csv' AND report = '10902'").fetchone()[0] > 0)

    def test_command_line_speaks_chinese_and_creates_nothing_it_refuses(self):
        store = os.path.join(self.tmp, "untouched.sqlite")
        for args, status, said in ((["--help"], 0, "用法："), (["--bogus"], 2, "未知的选项 --bogus"),
                                   (["schedule", "--store", store], 2, "缺少子命令"),
                                   (["user", "bogus", "x", "--store", store], 2, "未知子命令"),
                                   (["--db", self.db, "--store", os.path.join(self.tmp, "second.sqlite"),
                                     "--listen", f"127.0.0.1:{self.service.port}"], 1, f"端口 {self.service.port} 已被占用")):
            with self.subTest(args=args):
                r = subprocess.run([SERVER, *args], capture_output=True, text=True, timeout=60)
                self.assertEqual(r.returncode, status, r.stderr)
                self.assertIn(said, r.stdout + r.stderr)
                self.assertNotRegex(r.stdout + r.stderr, "Usage|Options|Unknown")
        self.assertFalse(os.path.exists(store))

    def test_worker_crash_costs_one_request(self):
        workers = self.service.stop_workers(self.boss)
        answer = []
        running = threading.Thread(target=lambda: answer.append(self.boss.call("POST", "/reports/10906/run", {})))
        running.start()
        wait_for(lambda: request_at_a_worker(self.service, workers), "the request reached a worker")
        for pid in workers:
            os.kill(pid, signal.SIGKILL)
        running.join()
        wait_for(lambda: all(ended(pid) for pid in workers), "every killed worker has ended")
        r, payload = answer[0]
        self.assertEqual(r.status, 500)
        self.assertIn("报表进程意外终止", json.loads(payload)["error"])
        r, payload = self.boss.call("POST", "/reports/10906/run", {})
        self.assertEqual(r.status, 200, payload.decode())

    def test_answer_begun_then_broken_is_cut_and_audited(self):
        """A worker that dies after its answer began: the response ends without its last chunk (the page's lines
        with a tail that says it failed), the audit keeps the 200 with the 500 it was cut by. A client that leaves
        half-way through a download is audited as 499, with the bytes it was sent."""
        for query, fmt in (("format=csv", "csv"), ("layout=rows-first", "json"), ("format=ndjson", "ndjson"), ("format=csv", None)):
            with self.subTest(format=fmt or "client left"):
                self.answer_begun_then_broken(query, fmt)

    def answer_begun_then_broken(self, query, fmt):
        self.boss.call("GET", "/lookups/items?limit=1")
        workers = self.service.workers()   # found first: they are stopped the moment the answer begins
        audit = lambda where: sqlite3.connect(os.path.join(self.tmp, "store.sqlite")).execute(
            f"SELECT status, cut, bytes FROM audit WHERE report = '10903' AND {where} ORDER BY id DESC LIMIT 1").fetchone()
        before = audit("status = 499")
        with self.boss.post_socket(f"/reports/10903/run?{query}", TWO_MONTHS, rcvbuf=4096) as client:
            answer = client.recv(4096)
            self.assertTrue(answer.startswith(b"HTTP/1.1 200"), answer[:100])
            while not fmt and len(answer) < 256 << 10:   # part of the 2 MB, then gone
                answer += client.recv(65536)
            for pid in workers if fmt else []:
                os.kill(pid, signal.SIGKILL)
            answer += b"".join(iter(lambda: client.recv(65536), b"")) if fmt else b""
        if not fmt:
            wait_for(lambda: audit("status = 499") != before, "the cut download is audited", timeout=20)
            return self.assertGreater(audit("status = 499")[2], 0)
        self.assertEqual((answer.endswith(b"\r\n0\r\n\r\n"), b'{"tail":{"state":"failed","status":500}}\n' in answer), (fmt == "ndjson",) * 2)
        self.assertEqual(audit(f"format = '{fmt}'")[:2], (200, 500))

    def test_client_that_leaves_stops_its_worker(self):
        workers = self.service.stop_workers(self.boss)   # the run cannot end before the client leaves
        with self.boss.post_socket("/reports/10906/run", {}):
            wait_for(lambda: request_at_a_worker(self.service, workers), "the request reached a worker")
        wait_for(lambda: set(workers) - set(self.service.workers()), "a worker has ended", timeout=5)
        for pid in set(workers) & set(self.service.workers()):
            os.kill(pid, signal.SIGCONT)
        self.assertEqual(len(set(workers) - set(self.service.workers())), 1)
        self.assertEqual(self.boss.call("POST", "/reports/10906/run", {})[0].status, 200)


class PoisonTest(unittest.TestCase):
    """One worker shared by a branch user who sends poison and head office: every answer after each
    poison request is the report and scope that user asked for."""
    POISON = [("raw 0x01", 10906, b'{"BDeptNumber":"' + b"\x01" * 60000 + b'"}'),
              ("raw NUL", 10906, b'{"BDeptNumber":"a\x00b"}'),
              ("escaped 0x01", 10906, b'{"BDeptNumber":"' + b"\\u0001" * 10000 + b'"}'),
              ("escaped NUL name", 10902, b'{"GroupBy":1,"period":"2024-02","VipName":"a\\u0000b"}'),
              ("long name", 10902, b'{"GroupBy":1,"period":"2024-02","VipName":"' + "张".encode() * 5000 + b'"}'),
              ("not UTF-8", 10906, b'{"BDeptNumber":"\xe5\xbc"}'),
              ("line break in a key", 10906, b'{"BDept\nNumber":"1"}')]

    def test_answers_stay_with_their_request(self):
        with Service(TMP, DB, "--workers", "1") as service:
            boss = Api(service.port).login("boss", "boss-password")
            shop = Api(service.port).login("shop", "shop-password")
            asks = [(boss, "/reports/10903/run", {"period": PERIOD}), (shop, "/reports/10906/run", {}),
                    (shop, "/lookups/branches", None), (boss, "/reports/10902/run?format=csv", dict(BASE[10902], period=PERIOD))]
            call = lambda api, path, body: api.call("GET" if body is None else "POST", path, body)
            expected = [call(*ask)[1] for ask in asks]
            for name, rpt, poison in self.POISON:
                with self.subTest(poison=name):
                    r, payload = shop.call("POST", f"/reports/{rpt}/run", raw=poison)
                    self.assertEqual(r.status, 400, payload[:200])
                    self.assertTrue(json.loads(payload)["error"])
                    for ask, answer in zip(asks, expected):
                        r, payload = call(*ask)
                        self.assertEqual((r.status, payload), (200, answer), ask[1])


class StoreTest(unittest.TestCase):
    """The store's users, sessions, tokens and audit log, the same on each engine."""

    @classmethod
    def tearDownClass(cls):
        for engine, store, _ in stores():
            if engine == "postgresql":
                schema = dict(p.split("=", 1) for p in store.split(";"))["Schema"]
                psql(store, f"DROP SCHEMA IF EXISTS {schema} CASCADE")
                psql(store, f"DROP DATABASE IF EXISTS velvip_store_{os.getpid()} WITH (FORCE)")

    def test_each_engine(self):
        for engine, store, sql in stores():
            with self.subTest(engine=engine):
                for name, where in (("ho", ["--head-office"]), ("br", ["--branch", BRANCH, "--db", DB])):
                    self.assertEqual(manage(store, "user", "add", name, "--password-stdin", *where, password="pw-12345678").returncode, 0)
                again = manage(store, "user", "add", "ho", "--password-stdin", "--head-office", password="pw-12345678")
                self.assertIn("已存在", again.stderr.decode())
                for number in ("", " ", "999"):   # never a head-office user, never a branch the chain lacks
                    refused = manage(store, "user", "add", "x", "--password-stdin", "--branch", number, "--db", DB, password="pw-12345678")
                    self.assertNotEqual(refused.returncode, 0, number)
                self.assertNotEqual(manage(store, "user", "add", "x", "--password-stdin", "--branch", BRANCH,
                                           password="pw-12345678").returncode, 0)   # no chain to check against
                self.assertEqual(manage(store, "user", "list").stdout.decode().splitlines(),
                                 ["br\t分店 002\t", "ho\t总部\t"])
                token = manage(store, "token", "add", "br", "--days", "1").stdout.decode().strip()
                kept = manage(store, "token", "add", "br").stdout.decode().strip()
                expired = manage(store, "token", "add", "ho").stdout.decode().strip()
                self.assertTrue(sql(f"UPDATE tokens SET expires = 1000 WHERE \"user\" = 'ho'"))
                listed = [line.split("\t") for line in manage(store, "token", "list").stdout.decode().splitlines()]
                self.assertEqual([(t[1], t[4:]) for t in listed], [("br", []), ("br", []), ("ho", ["已过期"])])
                with Service(TMP, DB, store=store) as service:
                    api = Api(service.port).login("br", "pw-12345678")
                    bearer = lambda t: Api(service.port).call("GET", "/session", headers={"Authorization": f"Bearer {t}"})
                    r, payload = bearer(token)
                    self.assertEqual((r.status, json.loads(payload)["branch"]), (200, BRANCH))
                    r, payload = bearer(expired)
                    self.assertEqual(r.status, 401)
                    self.assertIn("令牌已于", json.loads(payload)["error"])
                    self.assertEqual(api.call("PUT", "/reports/10906/schemes/甲", {})[0].status, 204)
                    self.assertEqual(json.loads(api.call("GET", "/reports/10906/schemes")[1]), ["甲"])
                    self.assertEqual(manage(store, "token", "revoke", listed[0][0]).returncode, 0)
                    self.assertEqual(bearer(token)[0].status, 401)
                    self.assertEqual(bearer(kept)[0].status, 200)
                    manage(store, "user", "passwd", "br", "--password-stdin", password="pw-87654321")
                    self.assertEqual(api.call("GET", "/session")[0].status, 401)   # a new password ends sessions
                    self.assertEqual(bearer(kept)[0].status, 401)                  # and tokens
                self.assertTrue(sql("INSERT INTO sessions VALUES ('x', 'br', 'c', 0, 0)"))
                replace = ("INSERT OR REPLACE INTO audit (id, at, \"user\", address, action, report, filter, format, rows, status) "
                           "SELECT id, at, 'x', address, action, report, filter, format, rows, 0 FROM audit ORDER BY id LIMIT 1")
                upsert = ("INSERT INTO audit (id, at, \"user\", address, action, report, filter, format, rows, status) "
                          "SELECT id, at, 'x', address, action, report, filter, format, rows, 0 FROM audit WHERE true ORDER BY id LIMIT 1 "
                          "ON CONFLICT (id) DO UPDATE SET status = 0")
                for change in ("UPDATE audit SET status = 0", "DELETE FROM audit", "TRUNCATE audit", replace, upsert):
                    self.assertFalse(sql(change), change)
                self.assertTrue(sql("INSERT INTO audit (at, \"user\", address, action, report, filter, format, status) "
                                    "VALUES ('now', 'x', '', 'login', '', '', '', 200)"))

    def test_service_role_may_only_append_to_the_audit(self):
        shared = [store for engine, store, _ in stores() if engine == "postgresql"]
        if not shared:
            self.skipTest("VELVIP_TEST_PG not set")
        role, schema = f"velvip_app_{os.getpid()}", f"roles_{os.getpid()}"
        self.assertEqual(psql(shared[0], f"CREATE ROLE {role} LOGIN PASSWORD 'app-password'").returncode, 0)
        owner = re.sub(r"Schema=\w+", f"Schema={schema}", shared[0])
        app = re.sub(r"User=\w+", f"User={role}", re.sub(r"Password=[^;]*", "Password=app-password", owner))
        try:
            self.assertEqual(manage(owner + f";ServiceRole={role}", "user", "add", "ho", "--password-stdin", "--head-office",
                                    password="pw-12345678").returncode, 0)
            with Service(TMP, DB, store=app) as service:
                self.assertEqual(Api(service.port).login("ho", "pw-12345678").call("GET", "/reports")[0].status, 200)
            as_app = lambda sql: psql(app, f"SET search_path TO {schema}; {sql}").returncode == 0
            self.assertTrue(as_app("SELECT count(*) FROM audit"))
            for table in ("recipients", "sign_in_failures"):   # deliveries' recipients, failed sign-ins
                self.assertTrue(as_app(f"DELETE FROM {table}"), table)
            for change in ("UPDATE audit SET status = 0", "DELETE FROM audit", "TRUNCATE audit",
                           "ALTER TABLE audit DISABLE TRIGGER ALL", "DROP TABLE audit"):
                self.assertFalse(as_app(change), change)
        finally:
            psql(shared[0], f"DROP SCHEMA IF EXISTS {schema} CASCADE")
            psql(shared[0], f"DROP OWNED BY {role}; DROP ROLE {role}")

    def test_two_instances_share_a_postgres_store(self):
        shared = [store for engine, store, _ in stores() if engine == "postgresql"]
        if not shared:
            self.skipTest("VELVIP_TEST_PG not set")
        # A database of its own, whose sessions may all be ended.
        store = shared[0].replace("Database=postgres", f"Database=velvip_store_{os.getpid()}")
        psql(shared[0], f"CREATE DATABASE velvip_store_{os.getpid()}")
        wrong = manage(store.replace("Password=", "Password=not-it-"), "user", "list")
        self.assertEqual(wrong.returncode, 1)
        self.assertNotIn(b"not-it-", wrong.stderr + wrong.stdout)
        manage(store, "user", "add", "both", "--password-stdin", "--head-office", password="pw-12345678")
        with Service(TMP, DB, store=store) as one, Service(TMP, DB, store=store) as two:
            # Failed sign-ins count alike on both, as behind a balancer that alternates them.
            statuses = [Api(s.port).call("POST", "/session", {"user": "both", "password": "x"})[0].status
                        for s in (one, two) * 3]
            self.assertEqual(statuses, [401] * 5 + [429])
            psql(store, f"DELETE FROM store_{os.getpid()}.sign_in_failures")
            a = Api(one.port).login("both", "pw-12345678")
            b = Api(two.port)
            b.cookie, b.csrf = a.cookie, a.csrf
            self.assertEqual(a.call("PUT", "/reports/10906/schemes/共用", {})[0].status, 204)
            self.assertEqual(json.loads(b.call("GET", "/reports/10906/schemes")[1]), ["共用"])
            psql(store, "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = current_database() "
                        "AND pid <> pg_backend_pid()")   # as a restart of the server would
            self.assertEqual(json.loads(b.call("GET", "/reports/10906/schemes")[1]), ["共用"])
            self.assertEqual(b.call("DELETE", "/session")[0].status, 204)
            self.assertEqual(a.call("GET", "/session")[0].status, 401)


class LimitsTest(unittest.TestCase):
    """A service of one worker, a queue of six and ten-minute sessions on a faked clock."""

    def test_queue_expiry_and_logout(self):
        clock = os.path.join(TMP, "limits-clock")
        with Service(TMP, DB, "--workers", "1", "--queue", "6", "--session-idle", "600", env=faked_clock(clock)) as service:
            api, done = Api(service.port).login("boss", "boss-password"), []
            worker = service.stop_workers(api)[0]
            run = lambda n: (api.call("POST", "/reports/10903/run", TWO_MONTHS), done.append(n))   # each ends before the next
            threads = [threading.Thread(target=run, args=(n,)) for n in range(7)]
            for n, t in enumerate(threads):   # the first holds the stopped worker, the others queue one by one
                t.start()
                wait_for(lambda: load(api) == (1, n), f"{n} queued")
            r, payload = Api(service.port).login("shop", "shop-password").call("POST", "/reports/10906/run", {})
            self.assertEqual((r.status, r.getheader("Retry-After")), (503, "5"))   # the queue is full
            os.kill(worker, signal.SIGCONT)
            [t.join() for t in threads]
            # Served in order of arrival. A client thread notes its answer after reading it, and on a loaded
            # machine may do so a moment after the next client: one place out is that, not the queue.
            self.assertEqual(sorted(done), list(range(7)))
            self.assertTrue(all(abs(at - n) <= 1 for at, n in enumerate(done)), done)
            with open(clock, "w") as f:   # the service's clock moved on past the idle limit
                f.write("+601\n")
            r, payload = api.call("GET", "/reports")
            self.assertEqual(r.status, 401)   # idle too long
            self.assertIn("空闲超过", json.loads(payload)["error"])
            api.login("boss", "boss-password")
            cookie = api.cookie
            self.assertEqual(api.call("DELETE", "/session")[0].status, 204)
            api.cookie = cookie   # replayed after logout
            self.assertEqual(api.call("POST", "/reports/10906/run", {})[0].status, 401)
            self.assertEqual(service.stop(), 0)   # SIGTERM: a clean stop


def raw_request(port, head, body=b"", timeout=10, source="127.0.0.1"):
    """One request written by hand; the status line's code, the headers and the body, or None when
    the connection ended without an answer."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout, source_address=(source, 0)) as c:
        c.sendall(head.encode() + body)
        answer = b"".join(iter(lambda: c.recv(65536), b""))
    if not answer.startswith(b"HTTP/1.1 "):
        return None
    head, _, payload = answer.partition(b"\r\n\r\n")
    return int(head[9:12]), head.decode().lower(), payload


def slow_clients(port, count):
    """Clients that send a request's header one byte a second; closed when the list is."""
    clients = [socket.create_connection(("127.0.0.1", port)) for _ in range(count)]

    def trickle():
        for byte in b"GET /api/v1/reports HTTP/1.1\r\nHost: x\r\n" * 100:
            for c in list(clients):
                try:
                    c.send(bytes([byte]))
                except OSError:
                    clients.remove(c)
            if not clients:
                return
            time.sleep(1)
    threading.Thread(target=trickle, daemon=True).start()
    return clients


def health_within(port, seconds=1.0):
    """Whether health answered within `seconds`."""
    try:
        r = raw_request(port, "GET /api/v1/health HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", timeout=seconds)
        return r is not None and r[0] == 200
    except OSError:
        return False


class FrontTest(unittest.TestCase):
    """The HTTP front under hostile clients: each bound with the fault it stops."""

    @classmethod
    def setUpClass(cls):
        cls.service = Service(TMP, DB, "--workers", "1", "--queue", "16")
        cls.boss = Api(cls.service.port).login("boss", "boss-password")

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()

    def chunked(self, path, size, cookie=True):
        """A chunked body of `size` bytes, sent until the service answers; the answer and the bytes sent."""
        port = self.service.port
        with socket.create_connection(("127.0.0.1", port), timeout=20) as c:
            auth = f"Cookie: {self.boss.cookie}\r\nX-CSRF-Token: {self.boss.csrf}\r\n" if cookie else ""
            c.sendall(f"POST /api/v1{path} HTTP/1.1\r\nHost: x\r\n{auth}Content-Type: application/json\r\n"
                      "Transfer-Encoding: chunked\r\n\r\n".encode())
            sent, piece = 0, b'{"a":"' + b"x" * 16378 + b'"}'
            answer = b""
            while sent < size and not answer:
                if select.select([c], [], [], 0.05)[0]:   # the answer came before the body ended
                    try:
                        answer = c.recv(65536)
                    except OSError:
                        pass
                    break
                try:
                    c.sendall(b"%x\r\n%s\r\n" % (len(piece), piece))
                    sent += len(piece)
                except OSError:
                    break
            if sent >= size:
                try:
                    c.sendall(b"0\r\n\r\n")
                except OSError:
                    pass
            try:
                answer += b"".join(iter(lambda: c.recv(65536), b""))
            except OSError:
                pass
        return answer, sent

    def test_bodies_are_bounded_chunked_or_not(self):
        for path, cookie in (("/session", False), ("/reports/10906/run", True), ("/nowhere", False)):
            with self.subTest(path=path):
                answer, sent = self.chunked(path, 8 << 20, cookie)
                self.assertTrue(answer.startswith(b"HTTP/1.1 413"), answer[:80])
                self.assertLess(sent, 1 << 20)   # refused when the limit passed, not after the whole body
        small = json.dumps({}).encode()
        r = raw_request(self.service.port, f"POST /api/v1/reports/10906/run HTTP/1.1\r\nHost: x\r\nCookie: {self.boss.cookie}\r\n"
                        f"X-CSRF-Token: {self.boss.csrf}\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n",
                        b"%x\r\n%s\r\n0\r\n\r\n" % (len(small), small), timeout=60)
        self.assertEqual(r[0], 200)   # a chunked body within the limit is read

    def test_full_queue_and_slow_clients_leave_health_answering(self):
        workers = self.service.stop_workers(self.boss)
        slow = slow_clients(self.service.port, 8)
        answers = []
        def run():
            try:
                answers.append(self.boss.call("POST", "/reports/10906/run", {})[0])
            except OSError as e:
                answers.append(e)
        runs = [threading.Thread(target=run) for _ in range(24)]
        try:
            for t in runs:
                t.start()
            wait_for(lambda: len(answers) >= 24 - 1 - 16 and load(self.boss) == (1, 16), "one runs and sixteen wait")
            self.assertTrue(health_within(self.service.port))
            refused = [a for a in answers if not isinstance(a, OSError) and a.status == 503]
            self.assertEqual(len(answers), 24 - 1 - 16, answers)   # one runs, sixteen wait, the rest are refused
            self.assertEqual(len(refused), len(answers))
            self.assertTrue(all(a.getheader("Retry-After") for a in refused))
        finally:
            for pid in workers:
                os.kill(pid, signal.SIGCONT)
            for t in runs:
                t.join()
            for c in slow:
                c.close()
        self.assertEqual(sorted(a.status for a in answers).count(200), 17)

    def test_every_answer_carries_the_security_headers(self):
        anon = Api(self.service.port)
        for method, path, body in (("GET", "/health", None), ("GET", "/reports", None), ("GET", "/nowhere", None),
                                   ("POST", "/session", b"{"), ("GET", "/openapi.json", None)):
            with self.subTest(path=path):
                r, _ = anon.call(method, path, raw=body)
                self.assertEqual(r.getheader("X-Content-Type-Options"), "nosniff")
                self.assertIn("frame-ancestors 'none'", r.getheader("Content-Security-Policy", ""))
                self.assertIsNone(r.getheader("Strict-Transport-Security"))   # plain HTTP: TLS only
        cert, key = os.path.join(TMP, "https-cert.pem"), os.path.join(TMP, "https-key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "1",
                        "-subj", "/CN=127.0.0.1"], check=True, capture_output=True)
        with Service(TMP, DB, "--cert", cert, "--key", key) as service:
            import ssl
            c = http.client.HTTPSConnection("127.0.0.1", service.port, timeout=30, context=ssl._create_unverified_context())
            c.request("GET", "/api/v1/health")
            r = c.getresponse()
            self.assertTrue(r.getheader("Strict-Transport-Security", "").startswith("max-age="))
            self.assertEqual(r.getheader("X-Content-Type-Options"), "nosniff")
            c.close()

    def test_health_without_login_says_only_whether_it_serves(self):
        r, payload = Api(self.service.port).call("GET", "/health")
        self.assertEqual((r.status, json.loads(payload)), (200, {"status": "ok"}))
        self.assertEqual(set(json.loads(self.boss.call("GET", "/health")[1])) >= {"engine", "version", "busy"}, True)
        with Service(TMP, os.path.join(TMP, "no-such-chain.sqlite")) as broken:
            r, payload = Api(broken.port).call("GET", "/health")
            self.assertEqual((r.status, json.loads(payload)), (503, {"status": "unavailable"}))

    def test_sign_in_failures_slow_the_address_not_the_user_elsewhere(self):
        with Service(TMP, DB) as service:
            def sign_in(password, source):
                body = json.dumps({"user": "shop", "password": password}).encode()
                return raw_request(service.port, "POST /api/v1/session HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                                   f"Content-Length: {len(body)}\r\nConnection: close\r\n\r\n", body, source=source)[0]
            self.assertEqual([sign_in("wrong-password", "127.0.0.2") for _ in range(6)], [401] * 5 + [429])
            self.assertEqual(sign_in("shop-password", "127.0.0.3"), 200)   # an address that never failed
            self.assertEqual(sign_in("shop-password", "127.0.0.2"), 429)   # the failing one waits


class StopTest(unittest.TestCase):
    """SIGTERM lets running requests finish and audits them; a client that leaves mid-answer is audited."""

    def audit(self, store, sql_filter, after=0, columns="status, bytes"):
        with sqlite3.connect(store) as c:
            return c.execute(f"SELECT {columns} FROM audit WHERE id > ? AND {sql_filter} ORDER BY id", (after,)).fetchall()

    def test_stop_drains_then_cuts(self):
        """finish: both runs end within the drain; wedged: the workers never answer: both requests (at a worker,
        queued) get 503 at the deadline, workers reaped; csv/ndjson: a worker wedges after the 200: cut, audited
        200 with cut 503, CSV without its last chunk, the page's lines ended by a tail."""
        for drain, case in (("10", "finish"), ("0", "wedged"), ("1", "csv"), ("1", "ndjson")):
            with self.subTest(case=case):
                store = os.path.join(tempfile.mkdtemp(dir=TMP), "store.sqlite")
                shutil.copy(os.path.join(TMP, "store.sqlite"), store)
                with sqlite3.connect(store) as c:
                    before = c.execute("SELECT coalesce(max(id), 0) FROM audit").fetchone()[0]
                service = Service(TMP, DB, "--drain-seconds", drain, "--workers", "1", store=store)
                api = Api(service.port).login("boss", "boss-password")
                if case in ("csv", "ndjson"):   # the page's lines whole (a chunk ends each), then their tail
                    answer, lines = self.cut_after_its_head(service, api, case), case == "ndjson"
                    tail = rb'\n\r\n[0-9a-f]+\r\n\{"tail":\{"state":"cancelled","status":503\}\}\n\r\n0\r\n\r\n$'
                    self.assertEqual((answer[:12], bool(re.search(tail, answer)), answer.endswith(b"\r\n0\r\n\r\n")),
                                     (b"HTTP/1.1 200", lines, lines))
                    self.assertEqual(self.audit(store, f"format = '{case}'", before, "status, cut"), [(200, 503)])
                    continue
                workers = service.stop_workers(api)
                answers = []
                runs = [threading.Thread(target=lambda: answers.append(api.call("POST", "/reports/10903/run", {"period": PERIOD})))
                        for _ in range(2)]
                for t in runs:
                    t.start()
                wait_for(lambda: load(api) == (1, 1), "one request runs and one waits")
                service.proc.send_signal(signal.SIGTERM)
                wait_for(lambda: refuses_connections(service.port), "the service no longer accepts", timeout=5)
                if case == "finish":
                    for pid in workers:
                        os.kill(pid, signal.SIGCONT)
                for t in runs:
                    t.join(timeout=30)
                self.ends_and_reaps(service, workers)
                expected = 200 if case == "finish" else 503
                self.assertEqual(sorted((r.status, r.getheader("Retry-After")) for r, _ in answers),
                                 [(expected, None if case == "finish" else "5")] * 2)
                self.assertEqual(self.audit(store, "action = 'run'", before, "status, cut"), [(expected, None)] * 2)

    def cut_after_its_head(self, service, api, fmt):
        """A 10903 download whose worker wedges once its 200 went out, while the service stops: the answer."""
        api.call("GET", "/lookups/items?limit=1")
        workers = service.workers()
        with api.post_socket(f"/reports/10903/run?format={fmt}", TWO_MONTHS) as client:
            answer = client.recv(4096)
            for pid in workers:
                os.kill(pid, signal.SIGSTOP)
            service.proc.send_signal(signal.SIGTERM)
            answer += b"".join(iter(lambda: client.recv(65536), b""))
        self.ends_and_reaps(service, workers)
        return answer

    def ends_and_reaps(self, service, workers):
        """The service exits 0 after SIGTERM, its workers gone (killed here if it left them)."""
        try:
            self.assertEqual((service.proc.wait(timeout=30), all(map(ended, workers))), (0, True))
        finally:
            service.proc.stdout.close()
            [os.kill(pid, signal.SIGKILL) for pid in workers if not ended(pid)]


class DemoTest(unittest.TestCase):
    def test_demo_touches_no_store_until_it_listens(self):
        data = tempfile.mkdtemp(dir=TMP)
        env = dict(os.environ, XDG_DATA_HOME=data, HOME=data)
        with socket.socket() as held:
            held.bind(("127.0.0.1", 0))
            held.listen()
            demo = subprocess.run([SERVER, "--demo", "--listen", f"127.0.0.1:{held.getsockname()[1]}"], env=env,
                                  capture_output=True, timeout=300)
        self.assertEqual(demo.returncode, 1)
        self.assertNotIn("admin".encode(), demo.stdout)
        self.assertEqual([f for _, _, files in os.walk(data) for f in files if f.startswith("service")], [])
        self.assertEqual(subprocess.run([SERVER, "--demo", "--store", os.path.join(data, "s.sqlite")], env=env,
                                        capture_output=True).returncode, 2)


if __name__ == "__main__":
    unittest.main(verbosity=1)
