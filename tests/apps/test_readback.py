"""What a person reads: every report exported by velvip-report as CSV, XLSX and PDF and read back by
an ordinary reader (Python's csv, openpyxl, pdftotext), on a chain whose names and notes hold the
formats' own separators, quotes and line breaks; and every visible column checked under its
caption against the chain itself or a relation between columns, so that a value written under
the wrong heading fails."""
import csv, io, os, sqlite3, subprocess, sys, tempfile, unittest
import openpyxl

REPORT = sys.argv.pop(1)
PERIOD = "2024-01"
# The formats' own separators, quotes and line breaks, and a leading sign a spreadsheet might read.
HOSTILE = {"member": 'Zhang, "Big"\nSan;末', "item": 'Cola, 330ml "can"\r\nnew\t罐', "note": '备注,"引号"\n第二行,'}
RUNS = {10901: ["--period", PERIOD], 10902: ["--period", PERIOD, "--set", "GroupBy=0"], 10903: ["--period", PERIOD],
        10904: ["--period", PERIOD, "--set", "GroupBy=1"], 10905: ["--period", PERIOD, "--set", "GroupBy=0"],
        10906: ["--set", "BItemNumber="]}


def number(text):
    return round(float(text or 0), 2)


def setUpModule():
    global TMP, DB, REF
    TMP = tempfile.mkdtemp(prefix="velvip-readback-")
    DB = os.path.join(TMP, "chain.sqlite")
    subprocess.run([REPORT, "make-demo", "--out", DB, "--start", "2024-01-01", "--days", "31", "--members", "60",
                    "--items", "40", "--lines-per-day", "40"], check=True, capture_output=True)
    with sqlite3.connect(DB) as db:
        card = db.execute("SELECT FCardID FROM sale_bill WHERE FCardID IS NOT NULL ORDER BY FID LIMIT 1").fetchone()[0]
        db.execute("UPDATE member_card SET FName = ? WHERE FID = ?", (HOSTILE["member"], card))
        item = db.execute("SELECT FItemID FROM sale_line ORDER BY FID LIMIT 1").fetchone()[0]
        db.execute("UPDATE item SET FName = ? WHERE FID = ?", (HOSTILE["item"], item))
        db.execute("UPDATE topup SET FNote = ? WHERE FID = (SELECT MIN(FID) FROM topup)", (HOSTILE["note"],))
        one = lambda sql: dict(db.execute(sql).fetchall())
        REF = {
            "card": one("SELECT c.FNumber, c.FName FROM member_card c"),
            "card type": one("SELECT c.FNumber, t.FName FROM member_card c JOIN card_type t ON t.FID = c.FTypeID"),
            "item": one("SELECT FNumber, FName FROM item"),
            "model": one("SELECT FNumber, COALESCE(FModel, '') FROM item"),
            "branch": one("SELECT FNumber, FName FROM branch"),
            "bill card": one("SELECT b.FBillNo, c.FNumber FROM sale_bill b JOIN member_card c ON c.FID = b.FCardID"),
            "bill date": one("SELECT FBillNo, substr(FDate, 1, 10) FROM sale_bill"),
            "retail": one("SELECT FNumber, FRetailPrice / 100.0 FROM item"),
            "vip price": one("SELECT FNumber, FVipPrice / 100.0 FROM item"),
        }


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


# Per report: caption -> the value the chain or the row's other columns say must stand under it.
# Amounts are compared to the cent (the writers round to two decimals).
LOOKUP = lambda table, key: lambda row: REF[table][row[key]]
CHECKS = {
    10901: {"会员姓名": LOOKUP("card", "会员卡号"), "会员类别": LOOKUP("card type", "会员卡号"),
            "期末-储值卡余额": lambda r: number(r["期初-储值卡金额"]) + number(r["本期-储值充值"]) - number(r["本期-储值消费"]),
            "期末-积分余额": lambda r: number(r["期初-积分数额"]) + number(r["本期-积分调整额"])},
    10902: {"会员姓名": LOOKUP("card", "会员卡号"), "卡类别": LOOKUP("card type", "会员卡号"),
            "折让金额": lambda r: number(r["原价金额"]) - number(r["销售金额"])},
    10903: {"会员编码": LOOKUP("bill card", "销售单号"), "会员姓名": LOOKUP("card", "会员编码"),
            "日期": lambda r: REF["bill date"][r["销售单号"]], "商品名称": LOOKUP("item", "商品编码"),
            "规格型号": LOOKUP("model", "商品编码"),
            "销售金额": lambda r: number(r["数量"]) * number(r["销售价"]),
            "原价金额": lambda r: number(r["数量"]) * number(r["原价"]),
            "折让金额": lambda r: number(r["原价金额"]) - number(r["销售金额"])},
    10904: {"会员姓名": LOOKUP("card", "会员卡号"), "卡类别": LOOKUP("card type", "会员卡号"),
            "商品名称": LOOKUP("item", "商品编码"), "规格型号": LOOKUP("model", "商品编码"),
            "仓库名称": LOOKUP("branch", "仓库编码")},
    10905: {"会员姓名": LOOKUP("card", "会员卡号"), "卡类别": LOOKUP("card type", "会员卡号"),
            "分店名称": LOOKUP("branch", "分店编码")},
    10906: {"商品名称": LOOKUP("item", "商品编码"), "规格型号": LOOKUP("model", "商品编码")},
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
            # The grand total of every amount column is the sum of the detail rows.
            total = next((r for r in rows if "合计" in r.values()), None)
            for caption in (c for c in rows[0] if total and total[c] and c in checks and caption_is_amount(details, c)):
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
                for row in rows:
                    for value in row.values():
                        for word in value.split():
                            self.assertIn(word, text, (rpt, value))
        # The planted values went through each format whole.
        seen = {k: any(v in r.values() for rpt in RUNS for r in csv_rows(rpt)) for k, v in HOSTILE.items()}
        self.assertEqual(seen, dict.fromkeys(HOSTILE, True))


def caption_is_amount(rows, caption):
    try:
        [float(r[caption]) for r in rows if r[caption]]
        return True
    except ValueError:
        return False


def cell(value):
    """A cell as text, numbers by value (a workbook keeps them as numbers, CSV as text)."""
    try:
        return round(float(value), 4)
    except (TypeError, ValueError):
        return str(value)


if __name__ == "__main__":
    unittest.main(verbosity=1)
