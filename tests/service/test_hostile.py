"""A generated hostile load on velvip-server: every endpoint for head office, users of two branches,
by cookie, by token and anonymous; malformed, oversized, chunked and control-character bodies, each
followed by another user's request on the same workers; slow clients beside them; one worker killed
on purpose. Seeded (VELVIP_HOSTILE_SEED, default 1): about 1,000 requests, VELVIP_HOSTILE_FULL=1 for
10,000. Violations are grouped by what stops them (core, protocol, scope); any of them fails the run."""
import collections, concurrent.futures, json, os, random, re, signal, socket, sqlite3, subprocess, sys, threading
import time, unittest

import test_service as ts   # takes the two programs from the command line

SERVER, REPORT, PERIOD, BASE, BRANCH_KEYS = ts.SERVER, ts.REPORT, ts.PERIOD, ts.BASE, ts.BRANCH_KEYS
SEED = int(os.environ.get("VELVIP_HOSTILE_SEED", "1"))
COUNT = 10000 if os.environ.get("VELVIP_HOSTILE_FULL") == "1" else 1000
LOOKUPS = ["customers", "items", "branches", "pos", "cashiers", "cards", "card-types", "brands"]
BOUND = 60   # seconds any one request may take, queue wait included


def exchange(port, head, body=b"", chunked=False, timeout=BOUND):
    """Sends one request as written; (status, payload, the answer's head), or (None, reason, "") when none
    came back. A refusal may come, and the connection close, before the whole body is sent. A chunked
    body that ends without its last chunk (an answer cut after its head) reads as payload None."""
    if chunked:
        pieces = [body[i:i + 4096] for i in range(0, len(body), 4096)]
        body = b"".join(b"%x\r\n%s\r\n" % (len(p), p) for p in pieces) + b"0\r\n\r\n"
    answer, reason = b"", "no HTTP answer"
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=timeout) as c:
            try:
                c.sendall(head + body)
            except OSError as e:
                reason = repr(e)
            while True:
                piece = c.recv(65536)
                if not piece:
                    break
                answer += piece
    except OSError as e:
        reason = repr(e)
    if not answer.startswith(b"HTTP/1.1 "):
        return None, reason, ""
    head, _, payload = answer.partition(b"\r\n\r\n")
    if b"transfer-encoding: chunked" in head.lower():
        out, rest, ended = b"", payload, False
        while rest:
            size, _, rest = rest.partition(b"\r\n")
            n = int(size or b"0", 16)
            if n == 0:
                ended = True
                break
            out, rest = out + rest[:n], rest[n + 2:]
        payload = out if ended else None
    return int(head[9:12]), payload, head.decode("latin-1")


class Caller:
    def __init__(self, name, branch, auth, port, token=None):
        self.name, self.branch, self.auth, self.port = name, branch, auth, port
        self.cookie = self.csrf = None
        self.token = token
        if auth == "cookie":
            status, payload = self.send("POST", "/session", json.dumps({"user": name, "password": name + "-password"}).encode())
            assert status == 200, payload
            self.csrf = json.loads(payload)["csrf"]

    def send(self, method, path, body=b"", chunked=False, length=None):
        lines = [f"{method} /api/v1{path} HTTP/1.1", "Host: x", "Connection: close", "Content-Type: application/json"]
        if self.cookie:
            lines += [f"Cookie: {self.cookie}", f"X-CSRF-Token: {self.csrf}"]
        if self.auth == "token":
            lines.append(f"Authorization: Bearer {self.token}")
        lines.append("Transfer-Encoding: chunked" if chunked else f"Content-Length: {len(body) if length is None else length}")
        status, payload, head = exchange(self.port, ("\r\n".join(lines) + "\r\n\r\n").encode(), body, chunked)
        self.cookie = self.cookie or next(iter(re.findall(r"(?im)^set-cookie: (velvip_session=[^;\r]+)", head)), None)
        return status, payload


class HostileTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = ts.scratch("velvip-hostile-")
        cls.db, store = os.path.join(cls.tmp, "chain.sqlite"), os.path.join(cls.tmp, "store.sqlite")
        subprocess.run([REPORT, "make-demo", "--out", cls.db, "--members", "300", "--days", "60", "--start", "2024-01-01"],
                       check=True, capture_output=True)
        cls.users = {"boss": "", "shop1": "001", "shop2": "002"}
        tokens = {}
        for name, branch in cls.users.items():
            where = ["--branch", branch, "--db", cls.db] if branch else ["--head-office"]
            subprocess.run([SERVER, "user", "add", name, "--password-stdin", *where, "--store", store],
                           input=f"{name}-password\n".encode(), check=True, capture_output=True)
            tokens[name] = subprocess.run([SERVER, "token", "add", name, "--store", store], capture_output=True,
                                          check=True).stdout.decode().strip()
        cls.service = ts.Service(cls.tmp, cls.db, store=store)
        cls.addClassCleanup(cls.service.stop)
        cls.port = cls.service.port
        cls.callers = [Caller(n, b, a, cls.port, tokens[n]) for n, b in cls.users.items() for a in ("cookie", "token")]
        cls.callers.append(Caller("anonymous", None, "anonymous", cls.port))
        cls.foreign = {}
        with sqlite3.connect(cls.db) as c:
            for branch in ("001", "002"):
                others = "SELECT FID FROM branch WHERE FNumber <> ?"
                marks = [n for (n,) in c.execute("SELECT FName FROM branch WHERE FNumber <> ?", (branch,))]
                marks += [n for (n,) in c.execute(f"SELECT FBillNo FROM sale_bill WHERE FBranchID IN ({others}) "
                                                  "AND FDate >= '2024-02-01' AND FCardID IS NOT NULL", (branch,))]
                lookups = [n for (n,) in c.execute(f"SELECT FNumber FROM pos WHERE FBranchID IN ({others})", (branch,))]
                lookups += [n for (n,) in c.execute(f"SELECT FNumber FROM employee WHERE FBranchID IN ({others})", (branch,))]
                cls.foreign[branch] = (marks, lookups)

    # Each case: (caller, method, path, body, how it is sent, statuses allowed, the group a wrong status belongs to).
    def cases(self, rng):
        signed = [c for c in self.callers if c.auth != "anonymous"]
        while True:
            caller = rng.choice(self.callers)
            rpt = rng.choice(list(BASE))
            body = dict(BASE[rpt], **({"period": PERIOD} if rpt != 10906 else {}))
            anon = caller.auth == "anonymous"
            if rng.random() < 0.35:
                poison, statuses, group = rng.choice([
                    (b"{\"BDate\": ", (400,), "core"), (b"[1]", (400,), "core"),
                    (b"{\"a\":\"" + b"x" * 70000 + b"\"}", (413,), "core"),
                    (json.dumps(dict(body, VipName="\x01" * rng.choice((1, 5000)))).encode(), (400,), "protocol"),
                    (b"{\"VipName\":\"" + b"\x01" * 60000 + b"\"}", (400,), "protocol"),
                    (b"{\"VipName\":\"a\x00b\"}", (400,), "protocol"),
                    (b"{\"VipName\":\"\xff\xfe\"}", (400,), "protocol"),
                    (json.dumps({"VipName": "x" * 5000}).encode(), (400,), "protocol")])
                chunked = rng.random() < 0.5
                # Anonymous: refused for the login, or for the body before it.
                yield caller, "POST", f"/reports/{rpt}/run", poison, chunked, (401,) + statuses if anon else statuses, group
                # Another user on the same workers right after it.
                other = rng.choice(signed)
                yield other, "POST", f"/reports/10906/run", b"{}", False, (200,), "protocol"
                continue
            fmt = rng.choice(("json", "json", "csv"))
            key = BRANCH_KEYS.get(rpt)
            if key and caller.branch and rng.random() < 0.3:   # another branch's rows asked for outright
                other = "001" if caller.branch == "002" else "002"
                body.update({"B" + key: other, "E" + key: other})
                allowed = (403,)
            else:
                allowed = (200,)
            choice = rng.randrange(9)
            if choice < 3:
                yield caller, "POST", f"/reports/{rpt}/run?format={fmt}", json.dumps(body).encode(), rng.random() < 0.2, \
                    (401,) if anon else allowed, "core"
            elif choice < 5:
                yield caller, "GET", f"/lookups/{rng.choice(LOOKUPS)}?limit=500", b"", False, (401,) if anon else (200,), "core"
            elif choice == 5:
                yield caller, "POST", f"/reports/{rpt}/drill?row={rng.randrange(3)}", json.dumps(body).encode(), False, \
                    (401,) if anon else allowed + (400, 404), "core"
            elif choice == 6:
                path = rng.choice(["/reports", f"/reports/{rpt}/keys", "/periods", "/session", f"/reports/{rpt}/schemes"])
                yield caller, "GET", path, b"", False, (401,) if anon else (200,), "core"
            elif choice == 7:
                yield caller, "GET", "/schedules", b"", False, (401,) if anon else ((200,) if not caller.branch else (403,)), "core"
            else:
                yield caller, "GET", "/health", b"", False, (200,), "core"

    def check(self, case, status, payload, killed):
        caller, method, path, body, chunked, allowed, group = case
        if status is None:
            return [("core", f"{caller.name}/{caller.auth} {method} {path}: no answer within {BOUND} s ({payload})")]
        if (status >= 500 or payload is None) and killed():
            return []
        if payload is None:
            return [("core", f"{caller.name}/{caller.auth} {method} {path}: {status} cut short with no worker killed")]
        if status not in allowed:
            return [(group if status < 500 or group != "core" else "core",
                     f"{caller.name}/{caller.auth} {method} {path} {body[:40]!r}: {status} {payload[:120]!r}")]
        found = []
        if status == 200 and "/run" in path and "format=csv" not in path:
            asked = int(path.split("/")[2])
            try:
                got = json.loads(payload)
                rpt = int(got.get("Filter", {}).get("RptID", asked))
            except (ValueError, TypeError, AttributeError):
                rpt = None
            if rpt != asked:
                found.append(("protocol", f"{caller.name} asked {asked}, got {rpt}"))
        if status == 200 and caller.branch and not path.endswith("/keys"):
            marks, lookups = self.foreign[caller.branch]
            text = payload.decode("utf-8", "replace")
            leaked = [m for m in (lookups if "/lookups/" in path else marks) if m in text]
            if leaked:
                found.append(("scope", f"{caller.name} {method} {path}: another branch's {leaked[:3]}"))
        return found

    def test_hostile_load(self):
        cases = self.cases(random.Random(SEED))
        batch = [next(cases) for _ in range(COUNT)]
        violations = collections.defaultdict(list)
        health, stop, kill_window = [], threading.Event(), []

        def watch_health():
            while not stop.is_set():
                began = time.monotonic()
                status = exchange(self.port, b"GET /api/v1/health HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", timeout=1)[0]
                health.append((status, time.monotonic() - began))
                stop.wait(0.5)

        def killed():
            return any(t <= time.monotonic() <= t + 5 for t in kill_window)

        def one(index):
            case = batch[index]
            if index == len(batch) // 2:   # a worker killed on purpose: what it served may answer 5xx
                kill_window.append(time.monotonic())
                for pid in self.service.workers():
                    os.kill(pid, signal.SIGKILL)
            caller, method, path, body, chunked, _, _ = case
            status, payload = caller.send(method, path, body, chunked)
            return self.check(case, status, payload, killed)

        watchers = [threading.Thread(target=watch_health)]
        watchers[0].start()
        slow = ts.slow_clients(self.port, 8)
        try:
            with concurrent.futures.ThreadPoolExecutor(8) as pool:
                for found in pool.map(one, range(len(batch))):
                    for group, text in found:
                        violations[group].append(text)
        finally:
            stop.set()
            watchers[0].join()
            for c in slow:
                c.close()
        slow_health = [h for h in health if h[0] != 200]
        if slow_health:
            violations["core"].append(f"health did not answer within 1 s {len(slow_health)} of {len(health)} times")
        for group, texts in sorted(violations.items()):
            print(f"{group}: {len(texts)} violations, e.g. {texts[:3]}", file=sys.stderr)
        failing = {g: v for g, v in violations.items() if v}
        self.assertEqual({g: v[:5] for g, v in failing.items()}, {}, f"seed {SEED}, {len(batch)} requests")


if __name__ == "__main__":
    unittest.main(verbosity=1)
