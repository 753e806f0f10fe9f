#include "ConnectionSettings.h"
#include "DemoChain.h"
#include "Dictionary.h"
#include "FrozenTableView.h"
#include "MainWindow.h"
#include "ReportSession.h"
#include "ReportTableModel.h"
#include "ReportView.h"

#include <QDialog>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

// The desktop host on a small generated chain, offscreen.
class tst_Host : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_props;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.filePath("settings"));
        QCoreApplication::setOrganizationName("VelVipRptTest");
        QCoreApplication::setApplicationName("tst_host");
        DemoOptions o;
        o.outPath = m_dir.filePath("small.sqlite");
        o.members = 60;
        o.items = 40;
        o.days = 40;
        o.linesPerDay = 30;
        DemoChain::Generate(o);
        m_props = DemoChain::SqliteConnectionText(o.outPath);
        ReportSession::RegisterComponents();
    }

    void cleanup()
    {
        QSettings().clear();
        QTRY_COMPARE(QApplication::topLevelWidgets().size(), 0);
    }

    void everyReportOpens()
    {
        MainWindow window;
        window.OverrideConnection(m_props);
        window.show();
        for (qint32 id : ReportSession::ReportIds()) {
            ReportView *view = window.OpenReport(id, ReportSession::SampleFilter(id));
            QVERIFY2(view, qPrintable(QString::number(id)));
            QVERIFY2(view->ErrorText().isEmpty(), qPrintable(QString("%1: %2").arg(id).arg(view->ErrorText())));
            QVERIFY2(view->Model()->rowCount() > 0, qPrintable(QString::number(id)));
            QCOMPARE(window.Tabs()->tabText(window.Tabs()->currentIndex()), ReportSession::ReportName(id));
            QCOMPARE(view->Table()->FrozenColumnCount(), view->Model()->Report().FrozenColumns());
        }
        QCOMPARE(window.Tabs()->count(), 6);
        // Only the line report allows sorting.
        for (int i = 0; i < window.Tabs()->count(); ++i) {
            auto *view = qobject_cast<ReportView *>(window.Tabs()->widget(i));
            QCOMPARE(view->Table()->isSortingEnabled(), i == 2);
        }
        window.close();
    }

    // A filter the host writes with date-only bounds covers whole days, in every report alike.
    void dateOnlyBoundsCoverWholeDays_data()
    {
        QTest::addColumn<int>("rptId");
        QTest::newRow("member_sales_shifts_its_end") << 10902;
        QTest::newRow("sale_lines_compare_to_the_second") << 10903;
    }
    void dateOnlyBoundsCoverWholeDays()
    {
        QFETCH(int, rptId);
        MainWindow window;
        window.OverrideConnection(m_props);
        DictionaryPtr filter = ReportSession::SampleFilter(rptId);
        filter->SetValue("BDate", QStringLiteral("2024-01-05"));
        filter->SetValue("EDate", QStringLiteral("2024/1/5"));
        ReportView *view = window.OpenReport(rptId, filter);
        QVERIFY(view);
        QVERIFY2(view->ErrorText().isEmpty(), qPrintable(view->ErrorText()));
        QCOMPARE(view->Model()->Report().PeriodLine(), QStringLiteral("日期：2024-01-05 00:00:00 至 2024-01-05 23:59:59"));
        QVERIFY(view->Model()->rowCount() > 1);
    }

    void failedRunShowsItsError()
    {
        MainWindow window;
        window.OverrideConnection("Driver=SQLite;Database=" + m_dir.filePath("missing.sqlite"));
        ReportView *view = window.OpenReport(10906, ReportSession::SampleFilter(10906));
        QVERIFY(view);
        QVERIFY(view->ErrorText().startsWith("错误："));
        QVERIFY(view->ErrorText().contains("missing.sqlite"));
        QCOMPARE(view->Model()->rowCount(), 0);
    }

    // The report's own filter dialog, closed by a timer: confirmed it opens a tab, cancelled not.
    void filterDialogDecidesWhetherAReportRuns_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::newRow("confirmed") << true;
        QTest::newRow("cancelled") << false;
    }

    void filterDialogDecidesWhetherAReportRuns()
    {
        QFETCH(bool, confirm);
        MainWindow window;
        window.OverrideConnection(m_props);
        QTimer closer;
        bool seen = false;
        connect(&closer, &QTimer::timeout, this, [&] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!dialog || seen)
                return;
            seen = true;
            if (!confirm) {
                dialog->reject();
                return;
            }
            for (QPushButton *b : dialog->findChildren<QPushButton *>())
                if (b->text() == QStringLiteral("确定"))
                    return b->click();
            dialog->reject();
        });
        closer.start(20);
        ReportView *view = window.OpenReport(10906);
        QVERIFY(seen);
        QCOMPARE(view != nullptr, confirm);
        QCOMPARE(window.Tabs()->count(), confirm ? 1 : 0);
        if (confirm)
            QVERIFY2(view->ErrorText().isEmpty(), qPrintable(view->ErrorText()));
    }

    void connectionSettingsKeepPasswordOnlyWhenAsked_data()
    {
        QTest::addColumn<bool>("remember");
        QTest::newRow("not_remembered") << false;
        QTest::newRow("remembered") << true;
    }

    void connectionSettingsKeepPasswordOnlyWhenAsked()
    {
        QFETCH(bool, remember);
        ConnectionSettings s;
        s.kind = ConnectionSettings::Kind::PostgreSQL;
        s.host = "db.example";
        s.port = 6543;
        s.database = "velvip";
        s.user = "report";
        s.password = "Pw;with=odd\"chars";
        s.rememberPassword = remember;
        s.context = ReportSession::DefaultContext();
        s.context["ISBranch"] = true;
        s.context["BranchNum"] = "003";
        {
            QSettings settings;
            s.Save(settings);
        }
        QSettings settings;
        const ConnectionSettings loaded = ConnectionSettings::Load(settings);
        QCOMPARE(loaded.kind, ConnectionSettings::Kind::PostgreSQL);
        QCOMPARE(loaded.port, 6543);
        QCOMPARE(loaded.password, remember ? s.password : QString());
        QCOMPARE(loaded.context.value("ISBranch").toBool(), true);
        QCOMPARE(loaded.context.value("BranchNum").toString(), "003");
        QVERIFY(!loaded.Describe().contains("Pw;with"));
        QVERIFY(s.PropsString().contains("Port=6543"));
    }

    void windowRemembersGeometry()
    {
        {
            MainWindow window;
            window.show();
            window.resize(900, 640);
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            window.close();
        }
        MainWindow again;
        QCOMPARE(again.size(), QSize(900, 640));
    }
};

QTEST_MAIN(tst_Host)
#include "tst_host.moc"
