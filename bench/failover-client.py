"""Clients that sign in through the balancer and run reports in a loop, for bench/failover.sh.

    failover-client.py URL USER PASSWORD REFS EVENTS [--clients 64] [--hang 60] [--records FILE] [--check]

REFS is a folder of NAME.body (the request's JSON) and NAME.json (the answer a run against the
primary gave); EVENTS a file of "EPOCH LABEL" lines the driver appends while this runs, until
"EPOCH end". Every
request is one connection (no stale keep-alive to mistake for a failure). Prints one row per
phase between events and a total: requests, failures by kind, hangs, the slowest answer,
whether every report body was byte-identical, and what became of the sessions. With --check, also
one "broken: ..." line per promise the run broke, and exit status 1 then."""
import argparse, collections, http.client, json, os, socket, sys, threading, time

parser = argparse.ArgumentParser()
for name in ("url", "user", "password", "refs", "events"):
    parser.add_argument(name)
parser.add_argument("--clients", type=int, default=64)
parser.add_argument("--hang", type=float, default=60, help="an answer slower than this is a hang")
parser.add_argument("--records", help="also write every request here, one JSON array a line")
parser.add_argument("--check", action="store_true", help="judge the run")
args = parser.parse_args()
host, port = args.url.split("//")[1].rstrip("/").split(":")
refs = {}
for name in sorted(os.listdir(args.refs)):
    if name.endswith(".body"):
        stem = name[:-5]
        with open(os.path.join(args.refs, name), "rb") as b, open(os.path.join(args.refs, stem + ".json"), "rb") as j:
            refs[stem] = (b.read(), j.read())

records, lock = [], threading.Lock()   # (began, ended, kind, upstream, signed in through, report)


def request(source, method, path, body=None, headers=None):
    """(status, body, upstream, cookie) or raises: the instance that answered (the bench's header names
    every upstream nginx tried; the last one answered) and the cookies the answer sets."""
    c = http.client.HTTPConnection(host, int(port), timeout=args.hang, source_address=(source, 0))
    try:
        c.request(method, path, body, {"Content-Type": "application/json", "Connection": "close", **(headers or {})})
        r = c.getresponse()
        data = r.read()
        cookie = "; ".join(v.split(";")[0] for k, v in r.getheaders() if k.lower() == "set-cookie")
        return r.status, data, (r.getheader("X-Velvip-Upstream") or "").split(",")[-1].strip(), cookie
    finally:
        c.close()


def call(*how):
    """(kind, status, body, upstream, cookie); kind "ok" for a 2xx, else what the client saw."""
    try:
        status, data, upstream, cookie = request(*how)
    except socket.timeout:
        return "hang", None, b"", "", ""
    except http.client.IncompleteRead:
        return "cut", None, b"", "", ""
    except (ConnectionError, http.client.HTTPException, OSError) as e:
        return f"connection ({type(e).__name__})", None, b"", "", ""
    if 200 <= status < 300:
        return "ok", status, data, upstream, cookie
    try:   # the service's JSON error, or whatever else nginx might send
        sentence = json.loads(data).get("error")
    except (ValueError, AttributeError):
        sentence = None
    return f"{status} {'json' if isinstance(sentence, str) and sentence else 'not json'}", status, data, upstream, cookie


def read_events():
    with open(args.events) as f:
        return sorted((float(t), label.strip()) for t, label in (line.split(" ", 1) for line in f if line.strip()))


first_sign_ins = []   # the driver's first event waits for every client's first session


def signed_in(number):
    with lock:
        if number not in first_sign_ins:
            first_sign_ins.append(number)
            if len(first_sign_ins) == args.clients:
                with open(args.events, "a") as f:
                    f.write(f"{time.time()} all signed in\n")


def client(number, ended):
    session, reports, i = None, list(refs.items()), number
    # Eight clients an address, as in a shop: the site allows 32 connections from one.
    source = f"127.0.0.{2 + number % 8}"
    sign_in = json.dumps({"user": args.user, "password": args.password})
    while not ended.is_set():
        began = time.time()
        if session is None:
            kind, _, data, upstream, cookie = call(source, "POST", "/api/v1/session", sign_in)
            if kind == "ok":
                session = {"through": upstream, "cookie": cookie, "csrf": json.loads(data)["csrf"]}
                signed_in(number)
            with lock:
                records.append((began, time.time(), kind, upstream, upstream, "sign-in"))
            if session is None:
                time.sleep(0.5)
            continue
        name, (body, expected) = reports[i % len(reports)]
        i += 1
        kind, _, data, upstream, _ = call(source, "POST", f"/api/v1/reports/{name.split('-')[0]}/run", body,
                                          {"Cookie": session["cookie"], "X-CSRF-Token": session["csrf"]})
        through = session["through"]
        if kind == "ok" and data != expected:
            kind = "body differs"
        if kind.startswith("401"):
            kind, session = "session lost (401)", None
        with lock:
            records.append((began, time.time(), kind, upstream, through, name))


ended = threading.Event()
threads = [threading.Thread(target=client, args=(n, ended)) for n in range(args.clients)]
for t in threads:
    t.start()
while not any(label == "end" for _, label in read_events()):
    time.sleep(0.2)
ended.set()
for t in threads:
    t.join()
events = read_events()
end = events.pop()[0]
if args.records:
    with open(args.records, "w") as f:
        f.writelines(json.dumps(r) + "\n" for r in sorted(records))


def row(label, rows, at=None):
    """One line of the table: requests begun in the phase; failures in flight at its event."""
    kinds = collections.Counter(r[2] for r in rows if r[2] != "ok")
    runs = [r for r in rows if r[5] != "sign-in"]
    in_flight = sum(1 for r in records if r[2] != "ok" and at is not None and r[0] <= at <= r[1])
    times = sorted(r[1] - r[0] for r in runs) or [0]
    identical = "yes" if runs and not any(r[2] == "body differs" for r in runs) else ("no" if runs else "-")
    failures = ", ".join(f"{k} {n}" for k, n in sorted(kinds.items())) or "none"
    print(f"| {label} | {len(rows)} | {failures} | {'-' if at is None else in_flight} | {kinds.get('hang', 0)} "
          f"| {times[len(times) // 2]:.2f} / {times[-1]:.2f} s | {identical} |")


print("| phase | requests | failures by kind | failures in flight at the event | hangs | runs p50 / max | byte-identical |")
print("|---|---|---|---|---|---|---|")
bounds = [(min((r[0] for r in records), default=0), "signing in")] + events + [(end + args.hang, "end")]
for (start, label), (stop, _) in zip(bounds, bounds[1:]):
    row(label, [r for r in records if start <= r[0] < stop], None if label in ("signing in", "all signed in") else start)
row("all", records)
crossed = collections.Counter((r[4], r[3]) for r in records if r[5] != "sign-in" and r[2] == "ok" and r[3] and r[4])
moved = sum(n for (through, served), n in crossed.items() if through != served)
lost = sum(1 for r in records if r[2].startswith("session lost"))
print(f"sessions: {sum(1 for r in records if r[5] == 'sign-in' and r[2] == 'ok')} sign-ins; "
      f"{moved} runs answered by an instance other than the one that signed the session in; {lost} sessions lost")
if not args.check:
    sys.exit(0)
# No request fails but an answer already under way when its instance stopped or was killed ("cut":
# nginx passes on what had no answer yet). Every phase answers reports (each standby's, then the
# primary's, all the primary's bodies), both instances answer, and while an instance is down the
# sessions it signed in run reports on the other.
broken, own_lines = [], ("hang", "body differs", "session lost (401)")
downs = [t for t, label in events if label.startswith("instance ") and not label.endswith("started again")]
failed = collections.Counter(r[2] for r in records if r[2] not in ("ok", *own_lines)
                             and not (r[2] == "cut" and any(r[0] <= t <= r[1] for t in downs)))
if failed:
    broken.append("failed requests besides answers cut by their instance's loss: "
                  + ", ".join(f"{k} {n}" for k, n in sorted(failed.items())))
for kind in own_lines:
    if any(r[2] == kind for r in records):
        broken.append(f"{kind}: {sum(1 for r in records if r[2] == kind)}")
for (start, label), (stop, _) in list(zip(bounds, bounds[1:]))[1:]:
    runs = [r for r in records if start <= r[0] < stop and r[5] != "sign-in" and r[2] == "ok"]
    if not runs:
        broken.append(f"no report answered in the phase \"{label}\"")
    if start in downs and not any(r[3] != r[4] for r in runs):
        broken.append(f"no session of the lost instance ran a report in the phase \"{label}\"")
if len({r[3] for r in records if r[2] == "ok" and r[5] != "sign-in"}) < 2:
    broken.append("reports were not answered by both instances")
print("".join(f"broken: {b}\n" for b in broken), end="")
sys.exit(1 if broken else 0)
