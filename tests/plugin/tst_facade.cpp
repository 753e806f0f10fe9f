#include "Entries.h"
#include "FakeServerData.h"

#include "facade/Application.h"
#include "facade/ComponentLibrary.h"
#include "progress/Bar.h"

#include "HostKit.h"

#include "Vector.h"

#include <QApplication>
#include <QThread>
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

    void writingFilterByName_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("mismatch");
        QTest::addColumn<bool>("okAfter");
        QTest::newRow("dictionary") << Vel::ToVariant(filter()) << false << true;
        QTest::newRow("no object") << QVariant() << false << false;
        QTest::newRow("none in a dictionary variant") << Vel::ToVariant(DictionaryPtr()) << false << false;
        QTest::newRow("number") << QVariant(5) << true << true;
        QTest::newRow("text") << QVariant(QStringLiteral("GroupBy=0")) << true << true;
        QTest::newRow("a list, not a dictionary") << Vel::ToVariant(Vector::Create()) << true << true;
    }

    // Writing Filter is not trapped: by name too, a value that is not a dictionary reaches
    // the host as the type-mismatch error, and the facade keeps its filter and result.
    void writingFilterByName()
    {
        QFETCH(QVariant, value);
        QFETCH(bool, mismatch);
        QFETCH(bool, okAfter);
        Application app;
        const DictionaryPtr before = filter();
        app.SetFilter(before);
        qint32 number = 0;
        try {
            app.setProperty("Filter", value);
        } catch (const VelError &e) {
            number = e.Number();
        }
        QCOMPARE(number, mismatch ? qint32(Vel::ErrTypeMismatch) : 0);
        QCOMPARE(ok(app), okAfter);
        QCOMPARE(error(app), okAfter ? QString() : QStringLiteral("请选择过滤条件！"));
        if (mismatch)
            QCOMPARE(app.Filter(), before);
        else
            QCOMPARE(app.property("Filter").value<DictionaryPtr>(), Vel::AsDictionary(value));
    }

    // The by-reference arguments reach the caller when a host calls by name.
    void reportDrivenByName()
    {
        const std::unique_ptr<QObject> report(DllGetClassObject("VelVipRpt.Rpt10903"));
        QVERIFY(report->setProperty("Filter", Vel::ToVariant(filter({{"BDate", "2024-05-01 00:00:00"},
                                                                      {"EDate", "2024-05-31 23:59:59"}}))));
        DictionaryPtr property = Dictionary::Create();
        QVariant returned(1);
        QVERIFY(QMetaObject::invokeMethod(report.get(), "SetRptProperty", Q_RETURN_ARG(QVariant, returned),
                                          Q_ARG(DictionaryPtr &, property)));
        QVERIFY(!returned.isValid());
        QCOMPARE(property->Value("Name"), QVariant(QStringLiteral("会员消费明细表")));

        VectorPtr header = Vector::Create();
        RecordsetPtr rows = Recordset::Create();
        const RecordsetPtr callerRows = rows;
        DictionaryPtr result = Dictionary::Create();
        Bar bar;
        bool invoked = false;
        connect(&bar, &Bar::Active, &bar, [&] {
            if (std::exchange(invoked, true))
                return;
            Bar *barArg = &bar;
            QVERIFY(QMetaObject::invokeMethod(report.get(), "GetRptList", Q_RETURN_ARG(QVariant, returned),
                                              Q_ARG(VectorPtr &, header), Q_ARG(Bar *, barArg),
                                              Q_ARG(RecordsetPtr &, rows), Q_ARG(DictionaryPtr &, result)));
        });
        bar.Show();
        QVERIFY(invoked);
        QCOMPARE(result->Value("OK"), QVariant(true));
        QCOMPARE(header->Count(), 20);
        QVERIFY(rows != callerRows);
        QCOMPARE(rows, FakeServerData::log.rowsGiven);

        VectorPtr title;
        QVERIFY(QMetaObject::invokeMethod(report.get(), "BuiltRptTitleObject", Q_ARG(DictionaryPtr &, result),
                                          Q_ARG(VectorPtr &, title), Q_ARG(DictionaryPtr &, property)));
        QVERIFY(title);
        QVERIFY(Vel::AsDictionary(result->Value("RptTitleObject")));

        const std::unique_ptr<QObject> contract(DllGetClassObject("VelVipRpt.IReportFilter"));
        bool checked = true;
        QVERIFY(QMetaObject::invokeMethod(contract.get(), "CheckFilter", Q_RETURN_ARG(bool, checked)));
        QVERIFY(!checked);
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

    // A request disturbed by the window losing and regaining the activation runs once; Esc during
    // it is ignored unless the host allows cancelling.
    void disturbedRequest_data()
    {
        QTest::addColumn<bool>("reactivate");
        QTest::addColumn<int>("allowCancel");
        QTest::newRow("window reactivated") << true << 0;
        QTest::newRow("Esc ignored by default") << false << 0;
        QTest::newRow("Esc cancels when the host allows it") << false << 1;
    }

    void disturbedRequest()
    {
        QFETCH(bool, reactivate);
        QFETCH(int, allowCancel);
        ShareProps::SetHostProperty(QStringLiteral("AllowCancel"), allowCancel);
        QWidget other;
        const auto pressEsc = [] {
            QWidget *progress = QApplication::activeModalWidget();
            QVERIFY(progress);
            QTest::keyClick(progress, Qt::Key_Escape);
        };
        // A cancellable request runs beside the window, so the key goes through its event loop
        // and the request waits for the interrupt (5 s at most, to fail rather than hang).
        FakeServerData::duringRequest = [&] {
            if (reactivate) {
                QWidget *progress = QApplication::activeModalWidget();
                QVERIFY(progress);
                other.show();
                QApplication::setActiveWindow(&other);
                QCoreApplication::processEvents();
                QApplication::setActiveWindow(progress);
                QCoreApplication::processEvents();
                other.hide();
                return;
            }
            if (QThread::currentThread() == qApp->thread())
                return pressEsc();
            QMetaObject::invokeMethod(qApp, pressEsc, Qt::QueuedConnection);
            QDeadlineTimer deadline(5000);
            while (!FakeServerData::interrupted && !deadline.hasExpired())
                QThread::msleep(1);
        };
        Application app;
        app.SetRptID(10906);
        app.SetFilter(filter());
        app.GetReportData();
        ShareProps::SetHostProperty(QStringLiteral("AllowCancel"), QVariant());
        QCOMPARE(FakeServerData::log.calls, 1);
        QCOMPARE(FakeServerData::interrupted.load(), bool(allowCancel));
        QCOMPARE(ok(app), !allowCancel);
        QCOMPARE(error(app), allowCancel ? QStringLiteral("已取消") : QString());
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
