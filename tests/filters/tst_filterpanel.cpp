#include "FilterTestSupport.h"

#include "LookupDialog.h"
#include "PeriodPresets.h"
#include "../ZoneScope.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QToolButton>

using namespace FilterTest;

// today: none: the dates are restored instead
struct ZoneDates { int rptId; QDate today; QString begin; QString end; };

struct LookupCase
{
    int rptId; int button; int box; bool serverFails; QString key; QString expected; int lookupType;
};

struct Preset { int rptId; QString preset; QStringList keys; QStringList values; };

class tst_FilterPanel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { InitEnvironment(); }
    void init() { ResetEnvironment(); }
    void cleanup() { QVERIFY2(LeakedWindows().isEmpty(), "a window was left open"); }

    // A confirmed filter comes back at the next opening; a cancelled one does not.
    void autosaveRestoresAtTheNextOpening()
    {
        {
            auto form = ShownForm(10904);
            form->findChild<QCheckBox *>(QStringLiteral("chkShowSumOnly"))->setChecked(true);
            form->findChild<QComboBox *>(QStringLiteral("cboGroup"))->setCurrentIndex(1);
            PanelOf(form.get())->Confirm();
        }
        {
            auto form = ShownForm(10904);
            form->findChild<QCheckBox *>(QStringLiteral("chkShowSumOnly"))->setChecked(false);
            PanelOf(form.get())->Cancel();
        }
        auto next = ShownForm(10904);
        QVERIFY(next->findChild<QCheckBox *>(QStringLiteral("chkShowSumOnly"))->isChecked());
        QCOMPARE(next->findChild<QComboBox *>(QStringLiteral("cboGroup"))->currentText(), QStringLiteral("会员"));
        QVERIFY(!SchemeStore().LoadLast(10904)->Lookup("OK"));
    }

    // A damaged scheme file is set aside and said on the panel; schemes are then saved, restored,
    // renamed and deleted afresh.
    void schemesSaveRestoreRenameDelete()
    {
        QFile file(SchemeFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a database at all, just text that was half written");
        file.close();
        auto form = ShownForm(10903);
        ReportFilterPanel *panel = PanelOf(form.get());
        QVERIFY(panel->StatusText().contains(QStringLiteral("已另存为")));
        for (const QString &name : QFileInfo(SchemeFile()).dir().entryList({QStringLiteral("*.corrupt-*")}))
            QFile::remove(QFileInfo(SchemeFile()).dir().filePath(name));
        form->txtItem[8]->setText(QStringLiteral("P01"));
        QVERIFY(panel->SaveScheme(QStringLiteral(" 早班 ")));
        form->txtItem[8]->setText(QStringLiteral("P02"));
        QVERIFY(panel->SaveScheme(QStringLiteral("晚班")));
        QCOMPARE(panel->SchemeNames(), QStringList({"早班", "晚班"}));
        QVERIFY(panel->RestoreScheme(QStringLiteral("早班")));
        QCOMPARE(form->txtItem[8]->text(), QStringLiteral("P01"));
        QVERIFY(panel->RenameScheme(QStringLiteral("早班"), QStringLiteral("白班")));
        QVERIFY(!panel->RestoreScheme(QStringLiteral("早班")));
        QVERIFY(!panel->StatusText().isEmpty());
        QVERIFY(panel->DeleteScheme(QStringLiteral("晚班")));
        QCOMPARE(panel->SchemeNames(), QStringList({"白班"}));
    }

    // A period preset sets the date page's pickers and the form saves its keys from them.
    void periodPresetsSetThePickers()
    {
        const QDate today = QDate::currentDate(), month(today.year(), today.month(), 1), previous = month.addMonths(-1);
        const QDate monday = today.addDays(1 - today.dayOfWeek());
        auto day = [](const QDate &d, const char *time) { return d.toString(u"yyyy-MM-dd ") + QLatin1String(time); };
        const Preset cases[] = {
            {10903, "上月", QStringList{"BDate", "EDate"},
             QStringList{day(previous, "00:00:00"), day(month.addDays(-1), "23:59:59")}},
            {10901, "上月", QStringList{"Year", "Month"},
             QStringList{QString::number(previous.year()), QString::number(previous.month())}},
            {10902, "本周", QStringList{"BDate", "EDate"},
             QStringList{day(monday, "00:00:00"), day(monday.addDays(6), "23:59:59")}},
            {10906, "", QStringList{}, QStringList{}},
        };
        for (const auto &[rptId, preset, keys, values] : cases) {
            auto form = ShownForm(rptId);
            const auto buttons = form->findChildren<QToolButton *>(QStringLiteral("periodPreset"));
            QCOMPARE(buttons.isEmpty(), preset.isEmpty());
            for (QToolButton *button : buttons)
                if (button->text() == preset)
                    button->click();
            const DictionaryPtr saved = Saved(form.get());
            for (qsizetype i = 0; i < keys.size(); ++i)
                QCOMPARE(saved->Value(keys[i]).toString(), values[i]);
        }
    }

    // The dialogs hold the chain's wall-clock dates in every local zone: a restored filter comes
    // back as it was, and 今天 starts at 00:00:00 on a day that starts at 01:00 locally.
    void datesAreWallClockInEveryZone()
    {
        const ZoneDates cases[] = {
            {10905, QDate(), "2024-03-31 02:30:00", "2024-03-31 02:59:59"},   // a skipped hour
            {10904, QDate(), "2024-10-27 02:30:00", "2024-11-03 01:30:00"},   // repeated hours
            {10902, QDate(2024, 3, 10), "2024-03-10 00:00:00", "2024-03-10 23:59:59"},
            {10903, QDate(2024, 9, 8), "2024-09-08 00:00:00", "2024-09-08 23:59:59"},
        };
        for (const QByteArray &zone : TestZones) {
            const ZoneScope inZone(zone);
            for (const auto &[rptId, today, begin, end] : cases) {
                auto form = ShownForm(rptId);
                if (today.isValid())
                    form->findChild<PeriodPresets *>()->Apply(PeriodPresets::Today, today);
                else
                    Restore(form.get(), Make({{"BDate", begin}, {"EDate", end}, {"GroupBy", 0}}));
                const DictionaryPtr saved = Saved(form.get());
                const QStringList got{saved->Value("BDate").toString(), saved->Value("EDate").toString()};
                QVERIFY2(got == QStringList({begin, end}), qPrintable(zone + ": " + got.join(" 至 ")));
                }
        }
    }

    // The lookup button asks the dialog, lists the base data with the form's condition and fills
    // the box of its index (on 10901 the card-type button fills the end box).
    void lookupFillsTheBox_data()
    {
        QTest::addColumn<LookupCase>("row");
        QTest::newRow("enter picks the selected row") << LookupCase{10903, 8, 8, false, "down-enter", "P02", 47};
        QTest::newRow("search then enter") << LookupCase{10903, 8, 8, false, "search", "P02", 47};
        QTest::newRow("unreachable database") << LookupCase{10903, 8, 8, true, "escape", "OLD", 47};
        QTest::newRow("10901 card type fills its end box") << LookupCase{10901, 4, 6, false, "enter", "P01", 51};
        QTest::newRow("10902 cards of this site") << LookupCase{10902, 3, 3, false, "escape", "OLD", 50};
    }
    void lookupFillsTheBox()
    {
        QFETCH(LookupCase, row);
        const auto &[rptId, button, box, serverFails, key, expected, lookupType] = row;
        if (serverFails)
            FakeServerData::answer = FakeServerData::Answer::Throw;
        HostContext::SetSVCardShareType(rptId != 10902);
        auto form = ShownForm(rptId);
        form->txtItem[box]->setText(QStringLiteral("OLD"));
        QString shownError;
        WhenModal([&](QDialog *d) {
            auto *lookup = qobject_cast<LookupDialog *>(d);
            QVERIFY(lookup);
            shownError = lookup->ErrorText();
            auto *search = d->findChild<QLineEdit *>(QStringLiteral("search"));
            if (key == "down-enter")
                QTest::keyClick(search, Qt::Key_Down);
            else if (key == "search")
                QTest::keyClicks(search, QStringLiteral("02"));
            QTest::keyClick(search, key == "escape" ? Qt::Key_Escape : Qt::Key_Return);
        });
        form->cmdItem[button]->click();
        QCOMPARE(form->txtItem[box]->text(), expected);
        if (box != button)
            QCOMPARE(form->txtItem[button]->text(), QString());
        QCOMPARE(FakeServerData::log.lookupType, lookupType);
        QCOMPARE(FakeServerData::log.propsString, QStringLiteral("Driver=SQLite;Database=/tmp/chain.sqlite"));
        if (rptId == 10902)
            QCOMPARE(FakeServerData::log.condition, QStringLiteral(" FDeleted=0 "));
        QCOMPARE(shownError.isEmpty(), !serverFails);
        QVERIFY(form->isVisible()); // the filter dialog keeps working
    }
};

QTEST_MAIN(tst_FilterPanel)
#include "tst_filterpanel.moc"
