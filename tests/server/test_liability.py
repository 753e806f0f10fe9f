#!/usr/bin/env python3
"""Reports 10908-10911 (the roll-forward, ageing, settlement and custody) against a recomputation
from the raw movements, written here without the report's code: every cell over several months,
on SQLite, PostgreSQL and a partitioned PostgreSQL chain, after back-dated movements and
corrections, and on an older SQLite chain brought up by upgrade-schema; and the tie of every
branch x card type cell to 10901's balances and 10905's top-ups.

Usage: test_liability.py VELVIP_REPORT   (PostgreSQL when VELVIP_TEST_PG is set)"""
import calendar, collections, csv, io, json, os, shutil, sqlite3, subprocess, sys, tempfile, unittest

REPORT = sys.argv.pop(1) if len(sys.argv) > 1 else "velvip-report"
MONTHS = [(2024, 1), (2024, 2), (2024, 3), (2024, 9), (2025, 2), (2025, 4)]
TIE_MONTHS = [(2024, 2), (2025, 2)]
MOVE = ("INSERT INTO card_movement (FID, FCardID, FDate, FBranchID, FKind, FBillNo, FValueAdd, FValueSpent, FPoints, "
        "FOperatorID, FPaid) VALUES ")
TOPUP = "INSERT INTO topup (FID, FCardID, FDate, FBranchID, FAmount, FPaid, FOperatorID, FNote) VALUES "
# Writers behind the ledger's back: back-dated top-ups (with their journal rows) and payments
# before a card's later history, two movements of one card in the same second, a cash-out,
# write-off and adjustments back-dated a year, a payment moved across months and branches, a
# payment whose amount is corrected, and deleted movements; a quiet card whose only top-up lies
# just inside the 6-12 month band of the 2025-04-20 cut-off (calendar months, not 30 days);
# card types changed after the cards' history, and a card row written after its first top-up.
WRITES = [
    "INSERT INTO member_card (FID, FNumber, FName, FTypeID, FBranchID) VALUES (9001, '89009001', 'A', 1, 2)",
    MOVE + "(900010, 9001, '2024-04-22 10:00:00', 2, 1, 'CZX3', 10000, 0, 0, 1, 8000)",
    TOPUP + "(900010, 9001, '2024-04-22 10:00:00', 2, 10000, 8000, 1, 'x')",
    MOVE + "(900001, 3, '2024-02-10 10:00:00', 2, 1, 'CZX1', 12500, 0, 0, 1, 10000)",
    TOPUP + "(900001, 3, '2024-02-10 10:00:00', 2, 12500, 10000, 1, 'x')",
    MOVE + "(900002, 3, '2024-02-11 10:00:00', 3, 2, 'XSX1', 0, 3333, 0, 1, NULL)",
    MOVE + "(900004, 5, '2024-03-01 00:00:00', 4, 2, 'XSX2', 0, 4999, 0, 1, NULL), "
           "(900003, 5, '2024-03-01 00:00:00', 2, 1, 'CZX2', 11000, 0, 0, 1, 7000)",
    TOPUP + "(900003, 5, '2024-03-01 00:00:00', 2, 11000, 7000, 1, 'x')",
    MOVE + "(900005, 7, '2024-09-05 12:00:00', 5, 7, 'TKX1', 0, 2001, 0, 2, NULL), "
           "(900006, 8, '2024-01-20 12:00:00', 6, 9, 'ZXX1', 0, 1501, 0, 2, NULL), "
           "(900007, 9, '2024-02-02 12:00:00', 2, 8, 'TZX1', 777, 0, 0, 2, NULL), "
           "(900008, 9, '2024-02-03 12:00:00', 2, 8, 'TZX2', 0, 333, -50, 2, NULL), "
           "(900009, 4, '2024-02-09 10:00:00', 999, 2, 'XSX3', 0, 1234, 0, 1, NULL)",
    "UPDATE card_movement SET FDate = '2024-09-20 12:00:00', FBranchID = 7 "
    "WHERE FID = (SELECT MIN(FID) FROM card_movement WHERE FKind = 2 AND FDate < '2024-02-01')",
    "UPDATE card_movement SET FValueSpent = FValueSpent + 101 "
    "WHERE FID = (SELECT MAX(FID) FROM card_movement WHERE FKind = 2 AND FDate < '2024-04-01')",
    "DELETE FROM card_movement WHERE FID IN (SELECT FID FROM card_movement WHERE FKind IN (2, 3) AND FCardID = 1 "
    "AND FDate < '2024-06-01')",
    # Cards whose type changes after their history, and a card written after its first top-up.
    "UPDATE member_card SET FTypeID = CASE WHEN FTypeID = 1 THEN 2 ELSE 1 END WHERE FID IN (3, 5, 9)",
    MOVE + "(900011, 9002, '2024-02-05 10:00:00', 3, 1, 'CZX4', 5000, 0, 0, 1, 4000)",
    TOPUP + "(900011, 9002, '2024-02-05 10:00:00', 3, 5000, 4000, 1, 'x')",
    "INSERT INTO member_card (FID, FNumber, FName, FTypeID, FBranchID) VALUES (9002, '89009002', 'B', 2, 3)",
]
ROLL = ["FOpen", "FOpenPaid", "FTopupPaid", "FTopupBonus", "FNewCard", "FRecharge", "FSpendPaid", "FSpendBonus", "FRefund",
        "FCashOut", "FAdjust", "FWriteOff", "FClose", "FClosePaid", "FDiff", "FRevenueOpen", "FPointsOpen", "FPointsEarned",
        "FPointsAdjust", "FPointsGift", "FPointsExpired", "FPointsClose"]
AGES = [f"{stem}{part}" for stem in ("FAge1", "FAge2", "FAge3", "FAge4", "FAge5", "FTotal") for part in ("", "Paid", "Bonus", "Cards")]
COLUMNS = {10908: ROLL, 10909: AGES, 10910: ["FSpend", "FSpendPaid", "FSpendBonus", "FRefundPaid", "FNetPaid", "FOwed", "FOwedBack", "FNet"],
           10911: ["FPrevPaid", "FPaid", "FValue", "FRatio", "FCustody", "FRevenue", "FShare", "FCap", "FCapAmount", "FOverCap",
                   "FIssued", "FOutstanding"], 0: ["FBalance", "FPaid", "FBonus"]}
KEYS = {10908: ["FBranchNo", "FTypeName"], 10909: ["FBranchNo", "FTypeName"], 10910: ["FIssueNo", "FSpendNo"],
        10911: ["FBranchNo"], 0: ["FCardNo", "FBranchNo"]}
ISSUER = lambda k, b: k[0] == b
# (report, filter, which cells a branch user sees, recomputation[, layout]).
CASES = [(10908, (f"Year={y}", f"Month={m}"), ISSUER, lambda d, y=y, m=m: roll_forward(d, y, m)) for y, m in MONTHS] + [
    (10909, ("EDate=2025-01-31", "ShowCards=1", "MinBalance=1500"), lambda k, b: k[1] == b,
     lambda d: ageing(d, "2025-01-31 23:59:59", 150000), 0),
    (10909, ("EDate=2024-02-20",), ISSUER, lambda d: ageing(d, "2024-02-20 23:59:59")),
    (10909, ("EDate=2025-04-20",), ISSUER, lambda d: ageing(d, "2025-04-20 23:59:59")),
    (10909, ("EDate=2027-06-30",), ISSUER, lambda d: ageing(d, "2027-06-30 23:59:59")),
    (10910, ("BDate=2024-02-01", "EDate=2024-03-31"), lambda k, b: b in k, lambda d: settlement(d, "2024-02-01 00:00:00", "2024-03-31 23:59:59")),
    (10910, ("BDate=2024-09-01", "EDate=2024-09-30"), lambda k, b: b in k, lambda d: settlement(d, "2024-09-01 00:00:00", "2024-09-30 23:59:59")),
    (10911, ("Year=2024", "Quarter=1"), ISSUER, lambda d: custody(d, 2024, 1, 40, 40)),
    (10911, ("Year=2025", "Quarter=1", "CustodyRatio=20", "RevenueCap=5"), ISSUER, lambda d: custody(d, 2025, 1, 20, 5)),
]


def psql(props, sql, csv_out=False):
    kv = dict(p.split("=", 1) for p in props.split(";"))
    args = [os.path.join(os.environ.get("PG_CLUSTER_BINDIR", "/usr/bin"), "psql"), "-v", "ON_ERROR_STOP=1", "-q",
            f"host={kv['Host']} port={kv['Port']} user={kv['User']} dbname={kv['Database']}"]
    if csv_out:
        args += ["--csv", "-t"]
    out = subprocess.run(args + ["-c", sql], env=dict(os.environ, PGPASSWORD=kv["Password"]), capture_output=True,
                         text=True, check=True).stdout
    return [[None if v == "" else v for v in r] for r in csv.reader(io.StringIO(out))] if csv_out else None


def chains(tmp):
    """(name, props, exec, select) for each engine; the chain is generated and rewritten."""
    made = []
    path = os.path.join(tmp, "chain.sqlite")
    made.append(("sqlite", f"Driver=SQLite;Database={path}", [],
                 lambda sql: sqlite3.connect(path).execute(sql).fetchall(),
                 lambda sql: (lambda c: (c.execute(sql), c.commit()))(sqlite3.connect(path))))
    server = os.environ.get("VELVIP_TEST_PG")
    if not server and os.environ.get("VELVIP_REQUIRE_PG") == "1":
        raise RuntimeError("VELVIP_REQUIRE_PG=1 but VELVIP_TEST_PG is not set")
    for name, extra in (("postgresql", []), ("partitioned", ["--partitioned"])) if server else ():
        db = f"velvip_liability_{name}_{os.getpid()}"
        psql(server, f"CREATE DATABASE {db}")
        props = server.replace("Database=postgres", f"Database={db}")
        made.append((name, props, extra, lambda sql, p=props: psql(p, sql, True), lambda sql, p=props: psql(p, sql)))
    return made


def run(props, rpt, *sets, period=None, scope=None):
    args = [REPORT, "run", str(rpt), "--props", props, "--format", "json"] + (["--branch-scope", scope] if scope else [])
    for s in sets:
        args += ["--set", s]
    if period:
        args += ["--period", period]
    d = json.loads(subprocess.run(args, capture_output=True, text=True, check=True).stdout)
    return [dict(zip(d["Fields"], r)) for r in d["Rows"]]


def cents(v, column=""):
    """Money as integer hundredths; counts as they are."""
    return round(float(v or 0) * (1 if column.endswith(("Cards", "Issued", "Outstanding")) else 100))


def half_even(n, d):
    q, r = divmod(abs(n), d)
    q += 1 if 2 * r > d or (2 * r == d and q % 2) else 0
    return -q if n < 0 else q


def walk(select):
    """Every movement in order (date, id) with its cash part, from the raw movements."""
    moves = sorted((str(r[2])[:19], int(r[0]), int(r[1]), int(r[3]), int(r[4]), int(r[5]), int(r[6]), int(r[7]),
                    None if r[8] is None else int(r[8])) for r in select(
        "SELECT FID, FCardID, FDate, FBranchID, FKind, FValueAdd, FValueSpent, FPoints, FPaid FROM card_movement"))
    state = collections.defaultdict(lambda: [0, 0])   # card -> balance, cash part
    out = []
    for date, fid, card, br, kind, add, spent, points, paid in moves:
        v, cash, valued = add - spent, 0, bool(add - spent) or kind == 1
        if valued:
            bal, c = state[card]
            cash = (v if paid is None else paid) if kind == 1 else half_even(v * c, bal) if bal > 0 else v
            state[card] = [bal + v, c + cash]
        out.append((date, card, br, kind, v, cash, points, valued, tuple(state[card])))
    return out


def chain_data(select):
    branch = {int(r[0]): r[1] for r in select("SELECT FID, FNumber FROM branch")}
    cards = {int(r[0]): (r[1] or "", r[2], r[3]) for r in select(
        "SELECT c.FID, s.FNumber, t.FNumber, c.FNumber FROM member_card c LEFT JOIN branch s ON s.FID = c.FBranchID "
        "JOIN card_type t ON t.FID = c.FTypeID")}
    return branch, cards, walk(select), select


def roll_forward(data, year, month):
    """10908's cells per (branch code, type code)."""
    branch, cards, moves, _ = data
    start = f"{year:04d}-{month:02d}-01"
    end = f"{year + month // 12:04d}-{month % 12 + 1:02d}-01"
    first_topup = set()
    cells = collections.defaultdict(collections.Counter)
    pairs = collections.defaultdict(lambda: [0, 0, None])   # (card, branch) -> opening cash, payments' cash part, cell
    for date, card, br, kind, v, cash, points, _, _ in moves:
        if date >= end:
            continue
        key = (branch.get(br, ""), cards[card][1])
        cell = cells[key]
        new_card = kind == 1 and card not in first_topup
        if kind == 1:
            first_topup.add(card)
        if date < start:
            cell["FOpen"] += v
            cell["FOpenPaid"] += cash
            cell["FPointsOpen"] += points
            pairs[(card, br)][0] += cash
            pairs[(card, br)][2] = key
        else:
            flow = {1: ("FTopupPaid", cash), 2: ("FSpendPaid", -cash), 3: ("FRefund", v), 7: ("FCashOut", -v),
                    9: ("FWriteOff", -v)}.get(kind, ("FAdjust", v))
            cell[flow[0]] += flow[1]
            if kind == 1:
                cell["FTopupBonus"] += v - cash
                cell["FNewCard" if new_card else "FRecharge"] += v
            if kind == 2:
                cell["FSpendBonus"] += -v + cash
                pairs[(card, br)][1] -= cash
                pairs[(card, br)][2] = key
            cell[{4: "FPointsEarned", 6: "FPointsGift", 10: "FPointsExpired"}.get(kind, "FPointsAdjust")] += \
                -points if kind in (6, 10) else points
        cell["FClose"] += v
        cell["FClosePaid"] += cash
        cell["FPointsClose"] += points
    for open_cash, spent_cash, key in pairs.values():
        if open_cash > 0 and spent_cash > 0:
            cells[key]["FRevenueOpen"] += min(open_cash, spent_cash)
    return cells


def balances(moves, before):
    """card -> (balance, cash part, date of its last value movement) over the movements before `before`(date)."""
    out = {}
    for date, card, _, _, _, _, _, valued, after in moves:
        if valued and before(date):
            out[card] = after + (date,)
    return out


def months_back(text, n):
    y, m = divmod(int(text[:4]) * 12 + int(text[5:7]) - 1 - n, 12)
    last = calendar.monthrange(y, m + 1)[1]
    return f"{y:04d}-{m + 1:02d}-{min(int(text[8:10]), last):02d}{text[10:]}"


def ageing(data, cut, cards_over=None):
    """10909's cells per (branch code, type code), or per card number those above `cards_over` cents."""
    _, cards, moves, _ = data
    bounds = [months_back(cut, n) for n in (3, 6, 12, 24)]
    cells = collections.defaultdict(collections.Counter)
    for card, (bal, cash, last) in balances(moves, lambda d: d <= cut).items():
        band = next((i + 1 for i, b in enumerate(bounds) if last > b), 5)
        if cards_over is not None:
            if bal > cards_over:
                cells[(cards[card][2], cards[card][0])].update(FBalance=bal, FPaid=cash, FBonus=bal - cash)
            continue
        for stem in (f"FAge{band}", "FTotal"):
            if bal:
                cells[cards[card][:2]].update({stem: bal, stem + "Paid": cash, stem + "Bonus": bal - cash, stem + "Cards": 1})
    return cells


def settlement(data, start, end):
    """10910's cells per (issuing branch code, spending branch code)."""
    branch, cards, moves, _ = data
    cells = collections.defaultdict(collections.Counter)
    for date, card, br, kind, v, cash, *_ in moves:
        if start <= date <= end and kind in (2, 3):
            cell = cells[(cards[card][0], branch.get(br, ""))]
            if kind == 2:
                cell.update(FSpend=-v, FSpendPaid=-cash, FSpendBonus=cash - v)
            else:
                cell.update(FRefundPaid=cash)
    for (a, b), cell in cells.items():
        cell["FNetPaid"] = cell["FSpendPaid"] - cell["FRefundPaid"]
        cell["FOwed"] = cell["FNetPaid"] if a != b else 0
    for (a, b), cell in cells.items():
        cell["FOwedBack"] = cells[(b, a)]["FOwed"] if a != b and (b, a) in cells else 0
        cell["FNet"] = cell["FOwed"] - cell["FOwedBack"]
    return cells


def custody(data, year, quarter, ratio, cap):
    """10911's cells per issuing branch code, and the total under "合计"."""
    _, cards, moves, select = data
    start, end = f"{year}-{3 * quarter - 2:02d}-01", f"{year + quarter // 4}-{3 * quarter % 12 + 1:02d}-01"
    first = {}
    for date, card, *_, valued, _ in moves:
        if valued:
            first.setdefault(card, date)
    now, before = balances(moves, lambda d: d < end), balances(moves, lambda d: d < start)
    cells = collections.defaultdict(collections.Counter)
    for card, (bal, cash, _) in now.items():
        cells[(cards[card][0],)].update(FPaid=cash, FValue=bal, FPrevPaid=before.get(card, (0, 0))[1],
                                        FOutstanding=int(bal > 0), FIssued=int(start <= first[card] < end))
    for code, amount in select("SELECT s.FNumber, SUM(l.FSaleAmount) FROM sale_bill b JOIN sale_line l ON l.FBillID = b.FID "
                               f"JOIN branch s ON s.FID = b.FBranchID WHERE b.FDate >= '{year - 1}-01-01' "
                               f"AND b.FDate < '{year}-01-01' GROUP BY s.FNumber"):
        cells[(code,)]["FRevenue"] += int(amount)
    total = collections.Counter()
    for cell in list(cells.values()):
        for k, v in cell.items():
            total[k] += v
    cells[("合计",)] = total
    for cell in cells.values():
        cap_amount = half_even(cell["FRevenue"] * cap, 100)
        cell.update(FRatio=ratio * 100, FCustody=half_even(cell["FPrevPaid"] * ratio, 100), FCap=cap * 100,
                    FShare=half_even(cell["FPaid"] * 10000, cell["FRevenue"]) if cell["FRevenue"] > 0 else 0,
                    FCapAmount=cap_amount, FOverCap=max(0, cell["FPaid"] - cap_amount))
    return cells


class Liability(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.chains = chains(cls.tmp.name)
        for name, props, extra, _, execute in cls.chains:
            target = ["--out", props.split("Database=")[1]] if name == "sqlite" else ["--props", props]
            subprocess.run([REPORT, "make-demo", *target, *extra, "--members", "150", "--items", "30", "--days", "480",
                            "--lines-per-day", "20", "--start", "2024-01-01", "--seed", "11"], check=True, capture_output=True)
            for sql in WRITES:
                execute(sql)
        # The same SQLite chain as a chain made before the paid part: no FPaid, no ledger, then
        # upgrade-schema, which fills FPaid from the top-up journal.
        old = os.path.join(cls.tmp.name, "old.sqlite")
        shutil.copy(cls.chains[0][1].split("Database=")[1], old)
        with sqlite3.connect(old) as c:
            for (name,) in c.execute("SELECT name FROM sqlite_master WHERE type = 'trigger'").fetchall():
                c.execute(f"DROP TRIGGER {name}")
            for table in ("card_value_split", "card_split_change", "card_balance_card", "card_balance_month"):
                c.execute(f"DROP TABLE {table}")
            c.execute("ALTER TABLE card_movement DROP COLUMN FPaid")
        # Until then each close report asks for the upgrade rather than give figures.
        cls.before_upgrade = [subprocess.run([REPORT, "run", str(rpt), "--props", f"Driver=SQLite;Database={old}",
                                              *[a for v in sets for a in ("--set", v)]], capture_output=True, text=True)
                              for rpt, sets in {rpt: sets for rpt, sets, *_ in CASES}.items()]
        subprocess.run([REPORT, "upgrade-schema", "--props", f"Driver=SQLite;Database={old}"], check=True, capture_output=True)
        cls.chains.append(("upgraded", f"Driver=SQLite;Database={old}", [], lambda sql: sqlite3.connect(old).execute(sql).fetchall(),
                           None))

    @classmethod
    def tearDownClass(cls):
        for name, props, *_ in cls.chains:
            if name == "sqlite" or name == "upgraded":
                continue
            db = props.split("Database=")[1].split(";")[0]
            psql(os.environ["VELVIP_TEST_PG"], f"DROP DATABASE IF EXISTS {db}")
        cls.tmp.cleanup()

    def test_an_older_chain_asks_for_the_upgrade(self):
        for run in self.before_upgrade:
            with self.subTest(run=run.args[2]):
                self.assertNotEqual(run.returncode, 0)
                self.assertIn("velvip-report upgrade-schema", run.stderr)
                self.assertEqual(run.stdout, "")

    def test_every_cell_equals_the_recomputation(self):
        for name, props, _, select, _ in self.chains:
            data = chain_data(select)
            types = {r[1]: r[0] for r in select("SELECT FNumber, FName FROM card_type")}
            for rpt, sets, scoped, want, *layout in CASES:
                layout = layout[0] if layout else rpt
                with self.subTest(engine=name, report=rpt, filter=sets):
                    expected = {k: {c: cell.get(c, 0) for c in COLUMNS[layout]} for k, cell in want(data).items()}
                    self.assertTrue(expected)
                    for scope in (None, "002"):
                        got, rows = {}, run(props, rpt, *sets, scope=scope)
                        for r in rows:
                            if r["FRowKind"] == 0 or (rpt == 10911 and r["FRowKind"] == 2):
                                key = tuple(r.get(f) or "" for f in KEYS[layout])
                                got[key if "FTypeName" not in KEYS[layout] else key[:-1] + (types[r["FTypeName"]],)] = \
                                    {c: cents(r[c], c) for c in COLUMNS[layout]}
                        if rpt != 10911:   # the grand total sums the details
                            self.assertEqual((rows[-1]["FRowKind"], {c: cents(rows[-1][c], c) for c in COLUMNS[layout]}),
                                             (2, {c: sum(v[c] for v in got.values()) for c in COLUMNS[layout]}))
                        if scope:   # a branch user's rows: the branch's, with the same figures (10911: no total)
                            got.pop(("合计",), None)
                            self.assertEqual(got, {k: v for k, v in expected.items() if scoped(k, scope)})
                        else:
                            self.assertEqual(got, expected)
                            if rpt == 10908:
                                self.assertTrue(all(c["FDiff"] == 0 for c in got.values()))

    def test_cells_tie_to_10901_and_10905(self):
        for name, props, _, select, _ in self.chains:
            types = {r[1]: r[0] for r in select("SELECT FNumber, FName FROM card_type")}
            for year, month in TIE_MONTHS:
                period = f"{year}-{month:02d}"
                cells = {(r["FBranchNo"], types[r["FTypeName"]]): r for r in run(props, 10908, f"Year={year}", f"Month={month}")
                         if r["FRowKind"] == 0 and r["FBranchNo"]}
                for code in sorted({b for b, _ in cells}):
                    ledger, topups = collections.Counter(), collections.Counter()
                    for r in run(props, 10901, f"Year={year}", f"Month={month}", f"BBranchNum={code}", f"EBranchNum={code}",
                                 "ShowSumOnly=1"):
                        if r["FRowKind"] == 1:
                            t = types[r["FCardType"]]
                            ledger[(t, "FOpen")] += cents(r["FCardAmount"])
                            ledger[(t, "FClose")] += cents(r["FResidualCardAmount"])
                    for r in run(props, 10905, "GroupBy=1", f"BStockNo={code}", f"EStockNo={code}", period=period):
                        if r["FRowKind"] == 0:
                            topups[(types[r["FTypeName"]], "amount")] += cents(r["FPlusAmt"])
                            topups[(types[r["FTypeName"]], "paid")] += cents(r["FPlusRealAmt"])
                    for (b, t), r in cells.items():
                        if b != code:
                            continue
                        with self.subTest(engine=name, month=period, branch=b, type=t):
                            self.assertEqual((cents(r["FOpen"]), cents(r["FClose"])),
                                             (ledger[(t, "FOpen")], ledger[(t, "FClose")]))
                            self.assertEqual((cents(r["FTopupPaid"]) + cents(r["FTopupBonus"]), cents(r["FTopupPaid"])),
                                             (topups[(t, "amount")], topups[(t, "paid")]))


if __name__ == "__main__":
    unittest.main(verbosity=1)
