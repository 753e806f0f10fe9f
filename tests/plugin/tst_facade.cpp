#include "Entries.h"
#include "FakeServerData.h"

#include "facade/Application.h"

#include "HostKit.h"

#include "Vector.h"

#include <QApplication>
#include <QtTest>

// The Application facade's life cycle, as a host drives it.
class tst_Facade : public QObject
{
    Q_OBJECT

private:
    static DictionaryPtr filter(const Entries &entries = {}) { return MakeDictionary(entries); }
    static bool ok(const Application &app) { return app.Result()->Value(QStringLiteral("OK")).toBool(); }
    static QString error(const Application &app) { return app.Result()->Value(QStringLiteral("Error")).toString(); }

private slots:
    void initTestCase()
    {
        RegisterHostKitComponents();
        ShareProps::SetHostProperty(QStringLiteral("PropsString"), QStringLiteral("Driver=SQLite;Database=x.db"));
        ErrorReporter::Install(&m_reporter);
    }

    void init()
    {
        HostContext::Clear();
        HostContext::Publish();
        FakeServerData::Install();
        m_reporter.Clear();
    }

    void cleanup()
    {
        const auto windows = QApplication::topLevelWidgets();
        QVERIFY(std::none_of(windows.cbegin(), windows.cend(), [](QWidget *w) { return w->isVisible(); }));
    }

    void freshObject()
    {
        Application app;
        QCOMPARE(app.Result()->Keys(), (QStringList{"OK", "Error"}));
        QCOMPARE(app.Result()->Value("OK"), QVariant(false));
        QCOMPARE(app.Result()->Value("Error"), QVariant(QString()));
        QCOMPARE(app.Property()->Count(), 0);
        app.SetRptID(10903);
        QVERIFY(!app.GetReportData().isValid());   // no filter: nothing runs
        QVERIFY(!app.Header());
        QCOMPARE(FakeServerData::log.calls, 0);
        QVERIFY(!app.GetDetailReport(5));
        app.SetExtFirter(QStringLiteral("anything"));
        QCOMPARE(app.ExtFirter(), QString());
        app.Refresh();   // no report yet: returns at once
        QVERIFY(!app.Header());
    }

    void writingFilter()
    {
        Application app;
        DictionaryPtr f = filter();
        app.SetFilter(f);
        QCOMPARE(app.Filter(), f);
        QVERIFY(ok(app));
        app.SetFilter(nullptr);
        QVERIFY(!app.Filter());
        QVERIFY(!ok(app));
        QCOMPARE(error(app), QStringLiteral("请选择过滤条件！"));
        QVERIFY_THROWS_EXCEPTION(VelError, app.SetFilterVariant(QVariant(5)));
        app.SetFilterVariant(Vel::ToVariant(f));
        QCOMPARE(app.Filter(), f);
    }

    void successfulRun()
    {
        Application app;
        DictionaryPtr f = filter({{"GroupBy", 1}, {"BDate", "2024-05-01 00:00:00"}, {"EDate", "2024-05-31 23:59:59"}});
        app.SetRptID(10905);
        app.SetFilter(f);
        const DictionaryPtr result = app.Result();
        const DictionaryPtr property = app.Property();
        app.GetReportData();

        QVERIFY2(ok(app), qPrintable(error(app)));
        QCOMPARE(app.Result(), result);
        QCOMPARE(app.Property(), property);
        QCOMPARE(app.rs(), FakeServerData::log.rowsGiven);
        QVERIFY(app.Title());
        QCOMPARE(f->Value("RptID").metaType().id(), int(QMetaType::Int));
        QCOMPARE(f->Value("RptID").toInt(), 10905);
        QVERIFY(Vel::AsDictionary(result->Value("RptTitleObject")));
        QCOMPARE(property->Value("Name"), QVariant(QStringLiteral("充值流水表")));

        // Refresh runs the same report again into new containers.
        const VectorPtr header = app.Header();
        app.Refresh();
        QCOMPARE(FakeServerData::log.calls, 2);
        QVERIFY(app.Header() != header);
        QCOMPARE(app.Header()->Count(), 9);
    }

    void unknownReport_data()
    {
        QTest::addColumn<bool>("earlierRun");
        QTest::newRow("fresh object") << false;
        QTest::newRow("after a 10901 run") << true;
    }

    void unknownReport()
    {
        QFETCH(bool, earlierRun);
        Application app;
        DictionaryPtr f = filter();
        app.SetFilter(f);
        if (earlierRun) {
            app.SetRptID(10901);
            app.GetReportData();
            QVERIFY(ok(app));
        }
        app.SetRptID(12345);
        app.GetReportData();
        QCOMPARE(f->Value("RptID"), QVariant(qint32(12345)));
        if (earlierRun) {
            // The previous report object runs again.
            QVERIFY(ok(app));
            QCOMPARE(FakeServerData::log.calls, 2);
            QCOMPARE(FakeServerData::log.rptId, 10901);
        } else {
            QVERIFY(!ok(app));
            QCOMPARE(error(app), QString());
            QCOMPARE(FakeServerData::log.calls, 0);
            QVERIFY(!app.Header());
        }
    }

    void failedRequestIsReported()
    {
        FakeServerData::Install(FakeServerData::Answer::Throw);
        Application app;
        app.SetRptID(10903);
        app.SetFilter(filter());
        app.GetReportData();
        QVERIFY(!ok(app));
        QCOMPARE(error(app), QStringLiteral("数据库连接失败"));
        QCOMPARE(app.Header()->Count(), 20);
        QVERIFY(app.rs());
        QCOMPARE(app.rs()->State(), 0);
    }

    void propertiesSurviveRuns()
    {
        Application app;
        app.SetFilter(filter());
        app.SetRptID(10903);
        app.GetReportData();
        app.SetRptID(10901);
        app.GetReportData();
        QVERIFY(ok(app));
        QCOMPARE(app.Property()->Value("LongTime"), QVariant(true));
        QCOMPARE(app.Property()->Value("EnableSort"), QVariant(true));
        QCOMPARE(app.Property()->Value("Name"), QVariant(QStringLiteral("储值积分变动表")));
    }

    void reactivationRunsNoSecondQuery()
    {
        QWidget other;
        FakeServerData::duringRequest = [&] {
            QWidget *progress = QApplication::activeModalWidget();
            QVERIFY(progress);
            other.show();
            QApplication::setActiveWindow(&other);
            QCoreApplication::processEvents();
            QApplication::setActiveWindow(progress);
            QCoreApplication::processEvents();
            other.hide();
        };
        Application app;
        app.SetRptID(10906);
        app.SetFilter(filter());
        app.GetReportData();
        QVERIFY(ok(app));
        QCOMPARE(FakeServerData::log.calls, 1);
    }

    void showFilter_data()
    {
        QTest::addColumn<qint32>("rptId");
        QTest::addColumn<bool>("resultReplaced");
        QTest::newRow("beyond 16 bits") << qint32(40000) << false;
        QTest::newRow("below 16 bits") << qint32(-40000) << false;
        QTest::newRow("no such report") << qint32(12345) << true;
    }

    void showFilter()
    {
        QFETCH(qint32, rptId);
        QFETCH(bool, resultReplaced);
        Application app;
        DictionaryPtr f = filter();
        app.SetFilter(f);
        app.SetFilter(nullptr);   // leaves "Error" = "请选择过滤条件！" in the result
        app.SetFilter(f);
        app.Result()->SetValue("Error", QStringLiteral("请选择过滤条件！"));
        const DictionaryPtr before = app.Result();
        app.SetRptID(rptId);
        QVERIFY(!app.ShowFilter().isValid());
        QCOMPARE(app.Filter(), f);
        if (resultReplaced) {
            QVERIFY(app.Result() != before);
            QVERIFY(!ok(app));
            QCOMPARE(error(app), QString());
            QVERIFY(m_reporter.Messages().isEmpty());
        } else {
            QCOMPARE(app.Result(), before);
            QCOMPARE(m_reporter.Messages(), QStringList{"请选择过滤条件！"});
        }
    }

private:
    CollectingErrorReporter m_reporter;
};

QTEST_MAIN(tst_Facade)
#include "tst_facade.moc"
