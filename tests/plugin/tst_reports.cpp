#include "FakeServerData.h"
#include "ReportRun.h"

#include "reports/ReportLayout.h"
#include "reports/Reports.h"

#include "Entries.h"
#include "HostKit.h"
#include "../ZoneScope.h"

#include <QtTest>

#include <memory>

// leading: the first captions
// last: the last caption
// hidden: fields with "FVisible" 0
struct Columns
{
    int rptId; QVariant groupBy; bool isBranch; bool shared; int count; QStringList leading; QString last;
    QStringList hidden;
};

// server: -1 not registered, else FakeServerData::Answer
// error: "*" any non-empty text
// endDate: the filter's "EDate" (none when invalid), left as it was
// message: the progress window's last text, when the server is not registered
struct Failure
{
    int rptId; bool hasFilter; QVariant groupBy; int server; QString error; int columns; int requests;
    QVariant endDate = QStringLiteral("2024-05-31 23:59:59"); QString message = {};
};

// sent: wall clock
struct EndShift { QByteArray zone; QVariant endDate; int server; QDateTime sent; QDateTime kept; };

// showDateDiff: empty where the report gives no title option
struct TitleCase { int rptId; QVariant barCode; QString showDateDiff; QStringList captions; };

// The reports through their public contract, against a fake server data component.
class tst_Reports : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        RegisterHostKitComponents();
        ShareProps::SetHostProperty(QStringLiteral("PropsString"), QStringLiteral("Driver=SQLite;Database=chain.db"));
    }

    void init()
    {
        HostContext::Clear();
        HostContext::Publish();
        FakeServerData::Install();
        SetHeaderTarget(nullptr);
    }

    // A run after a failed one fills only its own header.
    void headerOfEachRun()
    {
        FakeServerData::Install(FakeServerData::Answer::Throw);
        ReportRun failed;
        Rpt10903 report;
        report.SetFilter(Dictionary::Create());
        failed.run(report);
        QCOMPARE(failed.header->Count(), 20);
        FakeServerData::Install(FakeServerData::Answer::Rows);
        ReportRun next;
        next.run(report);
        QCOMPARE(failed.header->Count(), 20);
        QCOMPARE(next.header->Count(), 20);
    }

    void columns_data()
    {
        QTest::addColumn<Columns>("row");
        const QStringList memberDetails = {"vip_birthday", "vip_mobile", "FVipTel", "FVipAdd", "FEmpName"};

        QTest::newRow("10901 cards not shared") << Columns{10901, QVariant(), false, false, 14,
                                                QStringList{"日期$", "会员卡号$"}, "收银/操作员$", QStringList{}};
        QTest::newRow("10901 cards shared") << Columns{10901, QVariant(), false, true, 15,
                                            QStringList{"日期$", "分店$", "会员卡号$"}, "收银/操作员$", QStringList{}};
        QTest::newRow("10902 by card, branch site") << Columns{10902, QVariant(0), true, true, 8,
                                                    QStringList{"会员卡号$", "会员姓名$", "卡类别$", "原价金额$"},
                                                    "业务员$", QStringList{"FEmpName"}};
        QTest::newRow("10902 by card, head office") << Columns{10902, QVariant(QStringLiteral("0")), false, true, 9,
                                                    QStringList{"会员卡号$", "会员姓名$", "卡类别$", "消费分店$"},
                                                    "业务员$", QStringList{"FEmpName"}};
        QTest::newRow("10902 by branch") << Columns{10902, QVariant(1), false, true, 13,
                                         QStringList{"消费分店$", "会员卡号$", "会员姓名$", "卡类别$", "原价金额$"},
                                         "业务员$", memberDetails};
        QTest::newRow("10902 by card type, not shared") << Columns{10902, QVariant(2), false, false, 8,
                                                        QStringList{"卡类别$", "会员卡号$", "会员姓名$", "原价金额$"},
                                                        "业务员$", QStringList{"FEmpName"}};
        QTest::newRow("10902 by salesperson, shared") << Columns{10902, QVariant(3), false, true, 8,
                                                      QStringList{"业务员$", "消费分店$", "会员卡号$", "会员姓名$"},
                                                      "累计消费次数$", QStringList{}};
        QTest::newRow("10903") << Columns{10903, QVariant(), false, true, 20, QStringList{"会员编码$"}, "POS机编码$",
                               QStringList{"FBrNo", "FPos"}};
        QTest::newRow("10904 by item") << Columns{10904, QVariant(0), false, false, 13, QStringList{"商品编码$"},
                                       "仓库名称$", QStringList{}};
        QTest::newRow("10904 by member") << Columns{10904, QVariant(1), false, false, 13,
                                         QStringList{"会员卡号$", "会员姓名$", "商品编码$"}, "仓库名称$", QStringList{}};
        QTest::newRow("10904 by branch") << Columns{10904, QVariant(2), false, false, 13,
                                         QStringList{"分店编码$", "分店名称$"}, "卡类别$", QStringList{}};
        QTest::newRow("10905 by card") << Columns{10905, QVariant(0), false, false, 8, QStringList{"会员卡号$"},
                                       "备注$", QStringList{}};
        QTest::newRow("10905 by branch") << Columns{10905, QVariant(1), false, false, 9,
                                         QStringList{"分店编码$", "分店名称$"}, "操作员/收银员$", QStringList{}};
        QTest::newRow("10906") << Columns{10906, QVariant(), false, false, 9, QStringList{"商品编码$", "条形码$"},
                               "换算率$", QStringList{}};
    }

    void columns()
    {
        QFETCH(Columns, row);
        const auto &[rptId, groupBy, isBranch, shared, count, leading, last, hidden] = row;
        HostContext::SetIsBranch(isBranch);
        HostContext::SetSVCardShareType(shared);
        auto report = NewReport(rptId);
        DictionaryPtr filter = MakeDictionary({{"EDate", "2024-05-31 23:59:59"}});
        if (groupBy.isValid())
            filter->SetValue(QStringLiteral("GroupBy"), groupBy);
        report->SetFilter(filter);
        ReportRun run;
        run.run(*report);
        QCOMPARE(run.result->Value("OK"), QVariant(true));
        QCOMPARE(run.header->Count(), count);
        QCOMPARE(run.captions().mid(0, leading.size()), leading);
        QCOMPARE(run.captions().constLast(), last);
        QCOMPARE(run.hiddenFields(), hidden);
        const DictionaryPtr entry = run.header->DictionaryAt(0);
        QCOMPARE(entry->Keys(), (QStringList{"FColCaption", "FHeadSecond", "FColType", "FColName", "FVisible", "FWidth", "FShowTime"}));
        QCOMPARE(entry->Value("FVisible").metaType().id(), int(QMetaType::Short));
    }

    void failures_data()
    {
        QTest::addColumn<Failure>("row");

        const int rows = int(FakeServerData::Answer::Rows);
        QTest::newRow("no filter") << Failure{10903, false, QVariant(), rows, "", 0, 0};
        QTest::newRow("server not registered") << Failure{10903, true, QVariant(), -1, "*", 20, 0};
        QTest::newRow("server throws") << Failure{10901, true, QVariant(), int(FakeServerData::Answer::Throw),
                                       "数据库连接失败", 14, 1};
        QTest::newRow("server out of memory") << Failure{10901, true, QVariant(), int(FakeServerData::Answer::OutOfMemory),
                                              "内存不足，报表没有完成。", 14, 1};
        QTest::newRow("answer is not a record set") << Failure{10906, true, QVariant(), int(FakeServerData::Answer::Empty),
                                                    "*", 9, 1};
        QTest::newRow("10902 unknown grouping") << Failure{10902, true, QVariant(4), rows, "", 0, 0};
        QTest::newRow("10902 without grouping") << Failure{10902, true, QVariant(), rows, "", 0, 0};
        QTest::newRow("10904 grouping 3") << Failure{10904, true, QVariant(3), rows, "", 0, 0};
        QTest::newRow("10905 grouping 2") << Failure{10905, true, QVariant(2), rows, "", 0, 0};
        QTest::newRow("10906 reading message before the server")
            << Failure{10906, true, QVariant(), -1, "*", 9, 0, QVariant(), "正在从服务器读取数据，请稍候..."};
        const std::tuple<const char *, QVariant, QString> endDates[] = {
            {"not a date", QStringLiteral("abc"), "过滤条件“EDate”的值“abc”不是有效的日期"},
            {"no such day", QStringLiteral("2024-02-30 00:00:00"), "过滤条件“EDate”的值“2024-02-30 00:00:00”不是有效的日期"},
            {"absent", QVariant(), "缺少过滤条件“EDate”"},
            {"empty text", QString(), "缺少过滤条件“EDate”"},
            {"a number", 45000, "过滤条件“EDate”的值“45000”不是日期"}};
        for (const auto &[name, endDate, error] : endDates)
            QTest::addRow("10902 end date %s", name)
                << Failure{10902, true, QVariant(0), rows, error, 8, 0, endDate};
    }

    void failures()
    {
        QFETCH(Failure, row);
        const auto &[rptId, hasFilter, groupBy, server, error, columns, requests, endDate, message] = row;
        if (server < 0)
            FakeServerData::Uninstall();
        else
            FakeServerData::Install(FakeServerData::Answer(server));
        auto report = NewReport(rptId);
        DictionaryPtr filter = Dictionary::Create();
        if (endDate.isValid())
            filter->SetValue("EDate", endDate);
        if (groupBy.isValid())
            filter->SetValue("GroupBy", groupBy);
        if (hasFilter)
            report->SetFilter(filter);
        ReportRun run;
        run.run(*report);

        QCOMPARE(run.result->Value("OK"), QVariant(false));
        const QString text = run.result->Value("Error").toString();
        if (error == QLatin1String("*"))
            QVERIFY(!text.isEmpty());
        else
            QCOMPARE(text, error);
        QVERIFY(!run.windowLeftOpen);
        QCOMPARE(run.header->Count(), columns);
        QCOMPARE(run.rs, run.callerRs);
        QCOMPARE(FakeServerData::log.calls, requests);
        QCOMPARE(filter->Value("EDate"), endDate);
        if (server < 0) {
            QVERIFY(text.contains(QLatin1String(Vel::ServerDataProgId)));
            QCOMPARE(run.messageAtClose, message);
        }
    }

    void request()
    {
        FakeServerData::Install(FakeServerData::Answer::ReplaceFilter);
        Rpt10905 report;
        DictionaryPtr filter = MakeDictionary({{"RptID", 12345}, {"GroupBy", 1}});
        report.SetFilter(filter);
        ReportRun run;
        run.run(report);
        QCOMPARE(run.result->Value("OK"), QVariant(true));
        QCOMPARE(run.result->Value("Error"), QVariant(QString()));
        QCOMPARE(FakeServerData::log.rptId, 10905);
        QCOMPARE(FakeServerData::log.propsString, QStringLiteral("Driver=SQLite;Database=chain.db"));
        QCOMPARE(FakeServerData::log.filterSeen, filter);
        QCOMPARE(run.rs, FakeServerData::log.rowsGiven);
        QCOMPARE(report.Filter(), FakeServerData::log.filterGiven);
        QVERIFY(!report.rs());
        QVERIFY(!run.windowLeftOpen);
        QVERIFY(!CurrentHeaderTarget());
    }

    void endDateShift_data()
    {
        QTest::addColumn<EndShift>("row");
        const QDateTime end(QDate(2024, 5, 31), QTime(23, 59, 59));
        const QDateTime next(QDate(2024, 6, 1), QTime(23, 59, 59));
        const int rows = int(FakeServerData::Answer::Rows);
        QTest::newRow("text, success") << EndShift{QByteArray(), QVariant(QStringLiteral("2024-05-31 23:59:59")), rows, next, end};
        QTest::newRow("date value, success") << EndShift{QByteArray(), QVariant(end), rows, next, end};
        QTest::newRow("text, request fails") << EndShift{QByteArray(), QVariant(QStringLiteral("2024-05-31 23:59:59")),
                                             int(FakeServerData::Answer::Throw), next, end};
        QTest::newRow("answer not a record set") << EndShift{QByteArray(), QVariant(end), int(FakeServerData::Answer::Empty),
                                                 next, end};
        // Berlin skips 02:00-03:00 on 2024-03-31 and repeats it on 2024-10-27.
        const QByteArray berlin = "Europe/Berlin";
        QTest::newRow("the next day's time is skipped")
            << EndShift{berlin, QVariant(QStringLiteral("2024-03-30 02:30:00")), rows,
            QDateTime(QDate(2024, 3, 31), QTime(2, 30)), QDateTime(QDate(2024, 3, 30), QTime(2, 30))};
        QTest::newRow("the end time itself is skipped")
            << EndShift{berlin, QVariant(QStringLiteral("2024-03-31 02:30:00")), rows,
            QDateTime(QDate(2024, 4, 1), QTime(2, 30)), QDateTime(QDate(2024, 3, 31), QTime(2, 30))};
        QTest::newRow("the next day's time is repeated")
            << EndShift{berlin, QVariant(QStringLiteral("2024-10-26 02:30:00")), rows,
            QDateTime(QDate(2024, 10, 27), QTime(2, 30)), QDateTime(QDate(2024, 10, 26), QTime(2, 30))};
        QTest::newRow("local date value across the change")
            << EndShift{berlin, QVariant(QDateTime(QDate(2024, 3, 30), QTime(2, 30))), rows,
            QDateTime(QDate(2024, 3, 31), QTime(2, 30)), QDateTime(QDate(2024, 3, 30), QTime(2, 30))};
    }

    void endDateShift()
    {
        QFETCH(EndShift, row);
        const auto &[zone, endDate, server, sent, kept] = row;
        const ZoneScope inZone(zone);
        FakeServerData::Install(FakeServerData::Answer(server));
        Rpt10902 report;
        DictionaryPtr filter = MakeDictionary({{"GroupBy", 0}, {"BDate", "2024-05-01 00:00:00"}, {"EDate", endDate}});
        report.SetFilter(filter);
        ReportRun run;
        run.run(report);

        const auto wallClock = [](const QVariant &v) {
            return v.typeId() == QMetaType::QDateTime ? v.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                                      : QStringLiteral("not a date value");
        };
        const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
        QCOMPARE(FakeServerData::log.calls, 1);
        QCOMPARE(wallClock(FakeServerData::log.endDateSeen), sent.toString(format));
        QCOMPARE(wallClock(filter->Value("EDate")), kept.toString(format));

        DictionaryPtr result = Dictionary::Create();
        VectorPtr title;
        DictionaryPtr property = Dictionary::Create();
        report.BuiltRptTitleObject(result, title, property);
        const DictionaryPtr option = Vel::AsDictionary(result->Value("RptTitleObject"));
        QVERIFY(option);
        QCOMPARE(option->Value("ShowDateDiff"),
                 QVariant(QStringLiteral("BDate,2024-05-01 00:00:00|EDate,") + kept.toString(format)));
    }

    // The title block and the title option, with 10906's bar code line after the builder's.
    void titleBlock_data()
    {
        QTest::addColumn<TitleCase>("row");
        const QStringList builder = {"商品代码从[A]到[]", "部门代码[全部]"};
        QTest::newRow("10901 without option") << TitleCase{10901, {}, {}, builder};
        QTest::newRow("10903 with dates") << TitleCase{10903, {}, "BDate,2024-05-01 00:00:00|EDate,2024-05-31 23:59:59", builder};
        QTest::newRow("10906 no bar code") << TitleCase{10906, {}, {}, builder};
        QTest::newRow("10906 bar code spaces only") << TitleCase{10906, QStringLiteral("   "), {}, builder};
        QTest::newRow("10906 bar code padded") << TitleCase{10906, QStringLiteral(" A1"), {}, builder + QStringList{"条形码[A1]"}};
    }

    void titleBlock()
    {
        QFETCH(TitleCase, row);
        const auto &[rptId, barCode, showDateDiff, captions] = row;
        DictionaryPtr filter = MakeDictionary({{"BDate", "2024-05-01 00:00:00"}, {"EDate", "2024-05-31 23:59:59"},
                                               {"BItemNumber", "A"}, {"EItemNumber", ""}, {"BDeptNumber", ""}, {"EDeptNumber", ""}});
        if (barCode.isValid())
            filter->SetValue("BarCode", barCode);
        auto report = NewReport(rptId);
        report->SetFilter(filter);
        DictionaryPtr result = Dictionary::Create();
        DictionaryPtr property;
        VectorPtr title;
        report->BuiltRptTitleObject(result, title, property);
        QStringList got;
        for (int i = 0; i < title->Count(); ++i)
            got << title->DictionaryAt(i)->Value("FCaption").toString();
        QCOMPARE(got, captions);
        const DictionaryPtr option = Vel::AsDictionary(result->Value("RptTitleObject"));
        QCOMPARE(result->Keys(), showDateDiff.isEmpty() ? QStringList() : QStringList{"RptTitleObject"});
        if (option) {
            QCOMPARE(option->Keys(), QStringList{"ShowDateDiff"});
            QCOMPARE(option->Value("ShowDateDiff").toString(), showDateDiff);
        }
    }
};

QTEST_MAIN(tst_Reports)
#include "tst_reports.moc"
