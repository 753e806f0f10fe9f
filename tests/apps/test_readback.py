"""What a person reads: every report exported by velvip-report as CSV, XLSX and PDF and read back by
an ordinary reader (Python's csv, openpyxl, pdftotext), on a chain whose names and notes hold the
formats' own separators, quotes and line breaks; and every visible column checked under its
caption against the chain itself or a relation between columns, so that a value written under
the wrong heading fails."""
import atexit, csv, datetime, os, re, shutil, sqlite3, subprocess, sys, tempfile, unittest
import openpyxl

REPORT = sys.argv.pop(1)
PERIOD = "2024-01"
# The formats' own separators, quotes and line breaks: all at once, and each alone.
HOSTILE = {"member": 'Zhang, "Big"\nSan;末', "item": 'Cola\r\n330ml 罐', "model": '12" 装', "note": '备注,第二段'}
RUNS = {10901: ["--period", PERIOD], 10902: ["--period", PERIOD, "--set", "GroupBy=0"], 10903: ["--period", PERIOD],
        10904: ["--period", PERIOD, "--set", "GroupBy=1"], 10905: ["--period", PERIOD, "--set", "GroupBy=0"],
        10906: ["--set", "BItemNumber="]}


def number(text):
    return float(text or 0)


def setUpModule():
    global TMP, DB, REF
    TMP = tempfile.mkdtemp(prefix="velvip-readback-")
    if not os.environ.get("VELVIP_KEEP_TMP"):
        atexit.register(shutil.rmtree, TMP, True)
    DB = os.path.join(TMP, "chain.sqlite")
    subprocess.run([REPORT, "make-demo", "--out", DB, "--start", "2024-01-01", "--days", "31", "--members", "60",
                    "--items", "40", "--lines-per-day", "40"], check=True, capture_output=True)
    month = "FDate >= '2024-01-01' AND FDate < '2024-02-01'"
    with sqlite3.connect(DB) as db:
        card = db.execute("SELECT FCardID FROM sale_bill WHERE FCardID IS NOT NULL ORDER BY FID LIMIT 1").fetchone()[0]
        db.execute("UPDATE member_card SET FName = ? WHERE FID = ?", (HOSTILE["member"], card))
        item = db.execute("SELECT FItemID FROM sale_line ORDER BY FID LIMIT 1").fetchone()[0]
        db.execute("UPDATE item SET FName = ?, FModel = ? WHERE FID = ?", (HOSTILE["item"], HOSTILE["model"], item))
        db.execute(f"UPDATE topup SET FNote = ? WHERE FID = (SELECT MIN(FID) FROM topup WHERE {month})", (HOSTILE["note"],))
        table = lambda sql: {r[0] if len(r) == 2 else r[:-1]: r[-1] for r in db.execute(sql)}
        card_of = "JOIN member_card c ON c.FID = x.FCardID"
        REF = {
            "card": table("SELECT FNumber, FName FROM member_card"),
            "card type": table("SELECT c.FNumber, t.FName FROM member_card c JOIN card_type t ON t.FID = c.FTypeID"),
            "item": table("SELECT FNumber, FName FROM item"),
            "model": table("SELECT FNumber, COALESCE(FModel, '') FROM item"),
            "help": table("SELECT FNumber, COALESCE(FHelpCode, '') FROM item"),
            "retail": table("SELECT FNumber, FRetailPrice / 100.0 FROM item"),
            "vip": table("SELECT FNumber, FVipPrice / 100.0 FROM item"),
            "bar unit": table("SELECT b.FBarCode, u.FName FROM item_barcode b JOIN unit u ON u.FID = b.FUnitID"),
            "bar rate": table("SELECT FBarCode, FCoefficient / 1000.0 FROM item_barcode"),
            "branch": table("SELECT FNumber, FName FROM branch"),
            "bill card": table(f"SELECT x.FBillNo, c.FNumber FROM sale_bill x {card_of}"),
            "bill date": table("SELECT FBillNo, FDate FROM sale_bill"),
        }
        # What a card bought at a branch in the month, and its bills; gifts and top-ups by card and time.
        sales = (f"FROM sale_bill x {card_of} JOIN branch s ON s.FID = x.FBranchID JOIN sale_line l ON l.FBillID = x.FID "
                 f"WHERE x.{month} GROUP BY c.FNumber, s.FName")
        for key, value in (("amount", "SUM(l.FAmount) / 100.0"), ("sale", "SUM(l.FSaleAmount) / 100.0"),
                           ("bills", "COUNT(DISTINCT CASE WHEN x.FReturn = 0 THEN x.FID END)")):   # returns not counted
            REF[key] = table(f"SELECT c.FNumber, s.FName, {value} {sales}")
        gifts = f"FROM gift_redemption x {card_of} JOIN item i ON i.FID = x.FItemID WHERE x.{month}"
        for key, value in (("gift qty", "x.FQty / 1000.0"), ("gift points", "x.FPoints / 100.0")):
            REF[key] = table(f"SELECT c.FNumber, i.FNumber, x.FDate, {value} {gifts}")
        topups = f"FROM topup x {card_of} LEFT JOIN employee e ON e.FID = x.FOperatorID WHERE x.{month}"
        for key, value in (("topup", "x.FAmount / 100.0"), ("paid", "x.FPaid / 100.0"), ("note", "COALESCE(x.FNote, '')"),
                           ("operator", "COALESCE(e.FName, '')")):
            REF[key] = table(f"SELECT c.FNumber, x.FDate, {value} {topups}")


def run(rpt, fmt):
    out = os.path.join(TMP, f"{rpt}.{fmt}")
    subprocess.run([REPORT, "run", str(rpt), "--db", DB, *RUNS[rpt], "--format", fmt, "--out", out],
                   check=True, capture_output=True)
    return out


def csv_rows(rpt):
    with open(run(rpt, "csv"), encoding="utf-8", newline="") as f:
        return list(csv.DictReader(f))


def is_detail(row):
    return not {"小计", "合计"} & {v.strip() for v in row.values()}


# Per report: caption -> what the chain, or the row's other columns, say must stand under it.
def ref(table, *captions):
    return lambda row: REF[table][row[captions[0]] if len(captions) == 1 else tuple(row[c] for c in captions)]


CARD = {"会员姓名": ref("card", "会员卡号"), "卡类别": ref("card type", "会员卡号")}
ITEM = {"商品名称": ref("item", "商品编码"), "规格型号": ref("model", "商品编码")}
GIFT = ("会员卡号", "商品编码", "兑换日期")
TOPUP = ("会员卡号", "日期")
CHECKS = {
    10901: {"会员姓名": ref("card", "会员卡号"), "会员类别": ref("card type", "会员卡号"),
            "期末-储值卡余额": lambda r: number(r["期初-储值卡金额"]) + number(r["本期-储值充值"]) - number(r["本期-储值消费"]),
            "期末-积分余额": lambda r: number(r["期初-积分数额"]) + number(r["本期-积分调整额"])},
    10902: {**CARD, "原价金额": ref("amount", "会员卡号", "消费分店"), "销售金额": ref("sale", "会员卡号", "消费分店"),
            "折让金额": lambda r: number(r["原价金额"]) - number(r["销售金额"]),
            "累计消费次数": lambda r: str(REF["bills"][r["会员卡号"], r["消费分店"]])},
    10903: {"会员编码": ref("bill card", "销售单号"), "会员姓名": ref("card", "会员编码"), "日期": ref("bill date", "销售单号"),
            **ITEM, "销售金额": lambda r: number(r["数量"]) * number(r["销售价"]),
            "原价金额": lambda r: number(r["数量"]) * number(r["原价"]),
            "折让金额": lambda r: number(r["原价金额"]) - number(r["销售金额"])},
    10904: {**CARD, **ITEM, "仓库名称": ref("branch", "仓库编码"), "兑换数量": ref("gift qty", *GIFT),
            "使用积分": ref("gift points", *GIFT)},
    10905: {**CARD, "充值金额": ref("topup", *TOPUP), "实付金额": ref("paid", *TOPUP), "备注": ref("note", *TOPUP),
            "操作员/收银员": ref("operator", *TOPUP)},
    10906: {**ITEM, "助记码": ref("help", "商品编码"), "零售价": ref("retail", "商品编码"), "会员价": ref("vip", "商品编码"),
            "单位": ref("bar unit", "条形码"), "换算率": lambda r: REF["bar rate"][r["条形码"]]},
}


class ReadBack(unittest.TestCase):
    def test_columns_hold_what_their_captions_say(self):
        for rpt, checks in CHECKS.items():
            rows = csv_rows(rpt)
            details = [r for r in rows if is_detail(r)]
            with self.subTest(report=rpt):
                self.assertTrue(details)
                self.assertLessEqual(set(checks), set(rows[0]))
            for caption, expected in checks.items():
                with self.subTest(report=rpt, caption=caption):
                    for row in details:
                        want, got = expected(row), row[caption]
                        if isinstance(want, float):
                            self.assertAlmostEqual(number(got), want, delta=0.011, msg=row)
                        else:
                            self.assertEqual(got, want, row)
            # The grand total of every amount that flows (not a balance) is the sum of the detail rows.
            total = next((r for r in rows if "合计" in r.values()), None)
            for caption in (c for c in rows[0] if total and total[c] and not c.startswith(("期初", "期末"))
                            and all(re.fullmatch(r"-?\d+\.\d+", r[c]) for r in details)):
                with self.subTest(report=rpt, total=caption):
                    self.assertAlmostEqual(number(total[caption]), sum(number(r[caption]) for r in details), delta=0.011)

    def test_every_export_reads_back_as_the_csv(self):
        for rpt in RUNS:
            rows = csv_rows(rpt)
            captions = list(rows[0])
            with self.subTest(report=rpt, format="xlsx"):
                sheet = [["" if v is None else v for v in row] for row in
                         openpyxl.load_workbook(run(rpt, "xlsx"), read_only=True).active.iter_rows(values_only=True)]
                body = sheet[-len(rows):]
                for want, got in zip(rows, body):
                    self.assertEqual([cell(want[c]) for c in captions], [cell(v) for v in got[:len(captions)]])
            with self.subTest(report=rpt, format="pdf"):
                text = " ".join(subprocess.run(["pdftotext", run(rpt, "pdf"), "-"], capture_output=True, check=True)
                                .stdout.decode().split())
                text = re.sub(r"(?<=\d),(?=\d{3})", "", text)   # thousands separators on paper
                for row in rows:
                    for value in row.values():
                        for word in value.split():
                            self.assertIn(word, text, (rpt, value, row))
        # The planted values went through each format whole.
        seen = {k: any(v in r.values() for rpt in RUNS for r in csv_rows(rpt)) for k, v in HOSTILE.items()}
        self.assertEqual(seen, dict.fromkeys(HOSTILE, True))


def cell(value):
    """A cell by value: a workbook keeps numbers and dates as such, CSV as text."""
    if isinstance(value, datetime.datetime):
        return value
    try:
        return round(float(value), 4)
    except (TypeError, ValueError):
        pass
    for form in ("%Y-%m-%d %H:%M:%S", "%Y-%m-%d"):
        try:
            return datetime.datetime.strptime(value, form)
        except ValueError:
            pass
    return str(value)


if __name__ == "__main__":
    unittest.main(verbosity=1)
