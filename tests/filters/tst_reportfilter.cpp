#include "FilterTestSupport.h"

#include "facade/Application.h"

#include <QDateTimeEdit>
#include <QLineEdit>
#include <QSpinBox>

using namespace FilterTest;

struct Outcome { int rptId; QString action; bool ok; bool hasError; };

// typed: what the box holds after "A'1"; empty: nothing typed
struct EnterMove { int rptId; QString from; QString typed; QString to; };

struct TabStops { int rptId; QString first; QString last; };

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
        QTest::addColumn<Outcome>("row");
        QTest::newRow("confirmed") << Outcome{10903, "confirm", true, true};
        QTest::newRow("cancelled") << Outcome{10905, "cancel", false, false};
        QTest::newRow("closed by the window") << Outcome{10901, "close", false, true};
        QTest::newRow("below the reports") << Outcome{10900, "none", false, false};
        QTest::newRow("above the reports") << Outcome{10907, "none", false, false};
        QTest::newRow("roll-forward confirmed") << Outcome{10908, "confirm", true, true};
        QTest::newRow("no filter panel registered") << Outcome{10906, "no panel", false, false};
    }
    void outcomes()
    {
        QFETCH(Outcome, row);
        const auto &[rptId, action, ok, hasError] = row;
        bool shown = false;
        const bool opens = action != "none" && action != "no panel";
        if (action == "no panel")
            ComponentRegistry::Instance().Unregister(QLatin1String(Vel::FilterPanelProgId));
        if (opens) {
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
            RegisterFilterPanelComponent();
            QCOMPARE(shown, opens);
            QCOMPARE(host.Result()->Value("OK").toBool(), ok);
            QCOMPARE(host.Result()->Lookup("Error"), hasError);
            QCOMPARE(host.Result()->Value("Error").toString(), QString());
            QCOMPARE(bool(host.Filter()), ok);
            if (ok) {
                // The filter is the dialog's own result dictionary.
                QCOMPARE(host.Filter(), host.frmItem()->Result());
                QCOMPARE(host.Filter()->Value("OK"), QVariant(true));
                QVERIFY(host.Filter()->Lookup(rptId == 10908 ? "Year" : "Billnumber"));
            }
            QCOMPARE(bool(host.frmItem()), opens);
            result = host.Result();
            dialog = host.frmItem();
        }
        // Destroying the host unloads the hidden dialog.
        QVERIFY(!dialog);
        QCOMPARE(result->Lookup("Error"), opens);
        // A missing panel goes to the host's error reporter.
        QCOMPARE(m_reporter.Messages().size(), opens || action == "none" ? 0 : 1);
        if (action == "no panel")
            QVERIFY(m_reporter.Messages().first().contains(QLatin1String(Vel::FilterPanelProgId)));
    }

    // Enter leaves a control in one keystroke, date pickers included, in the dialog's tab order.
    // A dialog that previews keys drops a typed apostrophe; 10903's keeps it, and Enter stays.
    void enterMovesOneControl_data()
    {
        QTest::addColumn<EnterMove>("row");
        QTest::newRow("10902 begin picker") << EnterMove{10902, "DtpBDate", "", "DtpEDate"};
        QTest::newRow("10902 end picker") << EnterMove{10902, "DtpEDate", "", "txtItem2"};
        QTest::newRow("10901 year box") << EnterMove{10901, "DtpBDate", "", "DtpEDate"};
        QTest::newRow("10901 name box") << EnterMove{10901, "txtItem4", "", "chkShowSumOnly"};
        QTest::newRow("10901 key box previews") << EnterMove{10901, "txtItem2", "A1", "txtItem3"};
        QTest::newRow("10903 key box does not") << EnterMove{10903, "txtItem2", "A'1", "txtItem2"};
    }
    void enterMovesOneControl()
    {
        QFETCH(EnterMove, row);
        const auto &[rptId, from, typed, to] = row;
        QString reached, got;
        bool stillOpen = false;
        WhenModal([&](QDialog *d) {
            QApplication::setActiveWindow(d);
            QWidget *start = control(static_cast<FilterForm *>(d), from);
            start->setFocus();
            if (!typed.isEmpty()) {
                QTest::keyClicks(start, QStringLiteral("A'1"));
                got = static_cast<QLineEdit *>(start)->text();
            }
            QTest::keyClick(start, Qt::Key_Return);
            reached = nameOf(QApplication::focusWidget());
            stillOpen = d->isVisible();
            PanelButton(d, "cancel")->click();
        });
        ReportFilter host;
        host.SetRptID(qint16(rptId));
        host.Init();
        QCOMPARE(got, typed);
        QCOMPARE(reached, to);
        QVERIFY(stillOpen);
    }

    // Every dialog opens on its first filter control; the panel's controls follow the form's.
    void focusStartsOnTheForm_data()
    {
        QTest::addColumn<TabStops>("row");
        QTest::newRow("10901") << TabStops{10901, "DtpBDate", "chkShowVipDo"};
        QTest::newRow("10902") << TabStops{10902, "DtpBDate", "chkShowSumOnly"};
        QTest::newRow("10903") << TabStops{10903, "DtpBDate", "txtItem10"};
        QTest::newRow("10904") << TabStops{10904, "DtpBDate", "chkShowSumOnly"};
        QTest::newRow("10906") << TabStops{10906, "txtItem0", "txtItem2"};
    }
    void focusStartsOnTheForm()
    {
        QFETCH(TabStops, row);
        const auto &[rptId, first, last] = row;
        auto form = ShownForm(rptId);
        QApplication::setActiveWindow(form.get());
        QCOMPARE(nameOf(QApplication::focusWidget()), first);
        // Tab through the form's controls: after its last one comes the panel's scheme list.
        QStringList stops{first};
        for (int i = 0; i < 60 && stops.last() != QLatin1String("schemes"); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (auto *picker = qobject_cast<QDateTimeEdit *>(QApplication::focusWidget()); picker && nameOf(picker) == stops.last())
                continue; // a picker's own sections
            stops << nameOf(QApplication::focusWidget());
        }
        QVERIFY2(stops.size() >= 3 && stops.at(stops.size() - 2) == last, qPrintable(stops.join(',')));
        form->hide();
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
    static QWidget *control(FilterForm *form, const QString &name)
    {
        if (name.startsWith(QLatin1String("txtItem")))
            return form->txtItem[name.mid(7).toInt()];
        return form->findChild<QWidget *>(name);
    }
    static QString nameOf(const QWidget *w)
    {
        if (!w)
            return QStringLiteral("(none)");
        const QVariant index = w->property(FilterPanel::IndexProperty);
        return w->objectName() + (index.isValid() ? index.toString() : QString());
    }

    CollectingErrorReporter m_reporter;
};

QTEST_MAIN(tst_ReportFilter)
#include "tst_reportfilter.moc"
