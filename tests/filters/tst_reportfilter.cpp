#include "FilterTestSupport.h"

#include "facade/Application.h"

#include <QLineEdit>
#include <QSpinBox>

using namespace FilterTest;

class tst_ReportFilter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        InitEnvironment();
        ErrorReporter::Install(&m_reporter);
    }
    void init()
    {
        ResetEnvironment();
        m_reporter.Clear();
    }
    void cleanup() { QVERIFY2(LeakedWindows().isEmpty(), "a window was left open"); }

    void outcomes_data()
    {
        QTest::addColumn<int>("rptId");
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("hasError");
        QTest::newRow("confirmed") << 10903 << "confirm" << true << true;
        QTest::newRow("cancelled") << 10905 << "cancel" << false << false;
        QTest::newRow("closed by the window") << 10901 << "close" << false << true;
        QTest::newRow("below the reports") << 10900 << "none" << false << false;
        QTest::newRow("above the reports") << 10907 << "none" << false << false;
    }
    void outcomes()
    {
        QFETCH(int, rptId);
        QFETCH(QString, action);
        QFETCH(bool, ok);
        QFETCH(bool, hasError);
        bool shown = false;
        if (action != "none") {
            WhenModal([&](QDialog *d) {
                shown = true;
                if (action == "close")
                    d->close();
                else
                    PanelButton(d, qPrintable(action))->click();
            });
        }
        DictionaryPtr result;
        QPointer<FilterForm> dialog;
        {
            ReportFilter host;
            host.SetRptID(qint16(rptId));
            host.Init();
            QCOMPARE(shown, action != "none");
            QCOMPARE(host.Result()->Value("OK").toBool(), ok);
            QCOMPARE(host.Result()->Lookup("Error"), hasError);
            QCOMPARE(host.Result()->Value("Error").toString(), QString());
            QCOMPARE(bool(host.Filter()), ok);
            if (ok) {
                // The filter is the dialog's own result dictionary.
                QCOMPARE(host.Filter(), host.frmItem()->Result());
                QCOMPARE(host.Filter()->Value("OK"), QVariant(true));
                QVERIFY(host.Filter()->Lookup("Billnumber"));
            }
            QCOMPARE(bool(host.frmItem()), action != "none");
            result = host.Result();
            dialog = host.frmItem();
        }
        // Destroying the host unloads the hidden dialog.
        QVERIFY(!dialog);
        QCOMPARE(result->Lookup("Error"), action != "none");
        QVERIFY(m_reporter.Messages().isEmpty());
    }

    void missingPanelGoesToTheErrorReporter()
    {
        ComponentRegistry::Instance().Unregister(QLatin1String(Vel::FilterPanelProgId));
        ReportFilter host;
        host.SetRptID(10906);
        host.Init();
        RegisterFilterPanelComponent();
        QCOMPARE(host.Result()->Value("OK").toBool(), false);
        QVERIFY(!host.frmItem());
        QCOMPARE(m_reporter.Messages().size(), 1);
        QVERIFY(m_reporter.Messages().first().contains(QLatin1String(Vel::FilterPanelProgId)));
    }

    // Enter and the apostrophe on the dialogs that preview keys, and on one that does not.
    void keyboard_data()
    {
        QTest::addColumn<int>("rptId");
        QTest::addColumn<bool>("preview");
        QTest::newRow("10901 previews") << 10901 << true;
        QTest::newRow("10902 previews") << 10902 << true;
        QTest::newRow("10903 does not") << 10903 << false;
    }
    void keyboard()
    {
        QFETCH(int, rptId);
        QFETCH(bool, preview);
        QString typed;
        bool focusMoved = false;
        bool stillOpen = false;
        WhenModal([&](QDialog *d) {
            auto *form = static_cast<FilterForm *>(d);
            QLineEdit *box = form->txtItem[2];
            box->setFocus();
            QApplication::setActiveWindow(form);
            QTest::keyClicks(box, QStringLiteral("A'1"));
            typed = box->text();
            QTest::keyClick(box, Qt::Key_Return);
            focusMoved = QApplication::focusWidget() != box;
            stillOpen = form->isVisible();
            PanelButton(d, "cancel")->click();
        });
        ReportFilter host;
        host.SetRptID(qint16(rptId));
        host.Init();
        QCOMPARE(typed, preview ? QStringLiteral("A1") : QStringLiteral("A'1"));
        QCOMPARE(focusMoved, preview);
        QVERIFY(stillOpen);
        QCOMPARE(host.Result()->Value("OK").toBool(), false);
    }

    // The facade's ShowFilter takes the dialog's filter only when it is confirmed.
    void facadeShowFilter_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("ok");
        QTest::newRow("confirmed") << "confirm" << true;
        QTest::newRow("cancelled") << "cancel" << false;
    }
    void facadeShowFilter()
    {
        QFETCH(QString, action);
        QFETCH(bool, ok);
        Application app;
        app.SetRptID(10906);
        const DictionaryPtr own = Make({{"BarCode", "host"}});
        app.SetFilter(own); // "OK" = True from the host's own filter
        const DictionaryPtr resultBefore = app.Result();
        WhenModal([&](QDialog *d) { PanelButton(d, qPrintable(action))->click(); });
        app.ShowFilter();
        QCOMPARE(app.Result()->Value("OK").toBool(), ok);
        QCOMPARE(app.Filter() != own, ok);
        QVERIFY(app.Result() != resultBefore);
        QCOMPARE(app.Result()->Value("Error"), QVariant(QString()));
        if (ok)
            QCOMPARE(app.Filter()->Value("OK"), QVariant(true));
    }

private:
    CollectingErrorReporter m_reporter;
};

QTEST_MAIN(tst_ReportFilter)
#include "tst_reportfilter.moc"
