#include "FilterTestSupport.h"

#include "filters/GroupedFilterForm.h"
#include "filters/frmFilter10901.h"
#include "filters/frmFilter10902.h"
#include "filters/frmFilter10903.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QSpinBox>

using namespace FilterTest;

namespace {
QStringList comboTexts(const QComboBox *combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}
} // namespace

struct BranchSite { int rptId; bool isBranch; bool shared; QString beginKey; QString expected; bool rowsMoved; };

struct Grouping { int rptId; int appType; bool isBranch; bool shared; QStringList entries; };

// openedAtNow: both pickers open on the time the form's load set (not rounded by the panel's first restore)
struct PeriodDates { int rptId; QDateTime begin; QDateTime end; QString bDate; QString eDate; bool openedAtNow; };

struct LookupAnswer { int rptId; int index; bool shared; int lookupType; QString condition; };

struct CodePair { int begin; int end; QString endBefore; QString endAfter; };

struct CardRange { QString from; QString to; QString begin; QString end; };

struct RoundTrip { int rptId; QString title; DictionaryPtr filter; };

struct MonthRestore { DictionaryPtr filter; int year; int month; };

// bDateSuffix: empty where the dates stay
struct ResetCase { int rptId; QString bDateSuffix; QString eDateSuffix; };

class tst_FilterForms : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { InitEnvironment(); }
    void init() { ResetEnvironment(); }
    void cleanup() { QVERIFY2(LeakedWindows().isEmpty(), "a window was left open"); }

    // A filter restored and saved again comes back with the same values (branch rows included);
    // the dialog's title names its report.
    void restoreThenSaveRoundTrips_data()
    {
        QTest::addColumn<RoundTrip>("row");
        QTest::newRow("10901") << RoundTrip{10901, "过滤 - 储值积分变动表",
                               Make({{"Year", 2025}, {"Month", 3.0}, {"BBranchNum", "B01"}, {"EBranchNum", "B09"},
                                     {"BVipNum", "A001"}, {"EVipNum", "A099"}, {"BVipTypeNum", "T1"}, {"EVipTypeNum", "T3"},
                                     {"VipName", "王"}, {"ShowSumOnly", qint16(1)}, {"ShowVipDo", qint16(0)}})};
        QTest::newRow("10903") << RoundTrip{10903, "过滤 - 会员消费明细表",
                               Make({{"BDate", "2024-05-06 08:30:00"}, {"EDate", "2024-05-06 23:59:59"}, {"BVipNum", "A1"},
                                     {"EVipNum", "A2"}, {"BItemNum", "I1"}, {"EItemNum", "I2"}, {"Bcustnum", "C1"},
                                     {"Ecustnum", "C2"}, {"Cashier", "E5"}, {"Pos", "P01"}, {"Brand", "BR"},
                                     {"Billnumber", "0042"}, {"BBranchNum", "B01"}, {"EBranchNum", "B03"}})};
        QTest::newRow("10906") << RoundTrip{10906, "过滤 - 商品零售价格资料表",
                               Make({{"BItemNumber", "I1"}, {"EItemNumber", "I9"}, {"BarCode", "6901234567892"}})};
        QTest::newRow("10908") << RoundTrip{10908, "过滤 - 储值负债变动表",
                               Make({{"Year", 2025}, {"Month", 3.0}, {"BBranchNum", "B01"}, {"EBranchNum", "B09"},
                                     {"BVipTypeNum", "T1"}, {"EVipTypeNum", "T3"}})};
        QTest::newRow("10909") << RoundTrip{10909, "过滤 - 储值余额账龄表",
                               Make({{"EDate", "2024-06-30 23:59:59"}, {"BBranchNum", "B01"}, {"EBranchNum", "B09"},
                                     {"BVipTypeNum", "T1"}, {"EVipTypeNum", "T3"}, {"ShowCards", qint16(1)}, {"MinBalance", 8000.0}})};
        QTest::newRow("10910") << RoundTrip{10910, "过滤 - 跨店结算表",
                               Make({{"BDate", "2024-06-01 00:00:00"}, {"EDate", "2024-06-30 23:59:59"}, {"BBranchNum", "B01"},
                                     {"EBranchNum", "B02"}, {"BSpendNum", "B03"}, {"ESpendNum", "B04"}})};
        QTest::newRow("10911") << RoundTrip{10911, "过滤 - 预付资金存管表",
                               Make({{"Year", 2025}, {"Quarter", 2}, {"BBranchNum", "B01"}, {"EBranchNum", "B09"},
                                     {"CustodyRatio", 20}, {"RevenueCap", 35}})};
    }
    void restoreThenSaveRoundTrips()
    {
        QFETCH(RoundTrip, row);
        const auto &[rptId, title, filter] = row;
        auto form = ShownForm(rptId);
        QCOMPARE(form->windowTitle(), title);
        Restore(form.get(), filter);
        const DictionaryPtr saved = Saved(form.get());
        QCOMPARE(saved->Keys(), filter->Keys());
        for (const QString &key : filter->Keys())
            QCOMPARE(saved->Value(key).toString(), filter->Value(key).toString());
    }

    void textIsTrimmedAndAbsentKeysEmptyBoxes()
    {
        auto form = ShownForm(10903);
        form->txtItem[8]->setText(QStringLiteral("P01"));
        form->txtItem[2]->setText(QStringLiteral("  A01 "));
        Restore(form.get(), Make({{"BVipNum", "  A01 "}}));
        QCOMPARE(form->txtItem[8]->text(), QString());
        const DictionaryPtr saved = Saved(form.get());
        QCOMPARE(saved->Value("BVipNum").toString(), QStringLiteral("A01"));
        QCOMPARE(saved->Value("Pos").toString(), QString());
        QVERIFY(saved->Lookup("Pos"));
    }

    void month10901DefaultsAndRestore_data()
    {
        QTest::addColumn<MonthRestore>("row");
        const QDate today = QDate::currentDate();
        QTest::newRow("year and month") << MonthRestore{Make({{"Year", 2025}, {"Month", 3}}), 2025, 3};
        QTest::newRow("no year keeps the year") << MonthRestore{Make({{"Month", 7}}), today.year(), 7};
        QTest::newRow("text year") << MonthRestore{Make({{"Year", "2019"}, {"Month", "11"}}), 2019, 11};
        QTest::newRow("empty year, no month") << MonthRestore{Make({{"Year", ""}}), today.year(), today.month()};
    }
    void month10901DefaultsAndRestore()
    {
        QFETCH(MonthRestore, row);
        const auto &[filter, year, month] = row;
        auto form = ShownForm(10901);
        auto *f = static_cast<frmFilter10901 *>(form.get());
        QCOMPARE(f->DtpBDate->value(), QDate::currentDate().year());
        QCOMPARE(f->DtpEDate->value(), QDate::currentDate().month());
        QVERIFY(!f->chkShowSumOnly->isChecked());
        QVERIFY(f->chkShowVipDo->isChecked());
        Restore(form.get(), filter);
        QCOMPARE(f->DtpBDate->value(), year);
        QCOMPARE(f->DtpEDate->value(), month);
    }

    void beginCodeCopiedToEmptyEnd_data()
    {
        QTest::addColumn<CodePair>("row");
        QTest::newRow("card number into empty end") << CodePair{2, 3, QString(), QStringLiteral("A001")};
        QTest::newRow("end already set") << CodePair{2, 3, QStringLiteral("A050"), QStringLiteral("A050")};
        QTest::newRow("card type") << CodePair{5, 6, QStringLiteral("  "), QStringLiteral("A001")};
        QTest::newRow("member name has no partner") << CodePair{4, 3, QString(), QString()};
    }
    void beginCodeCopiedToEmptyEnd()
    {
        QFETCH(CodePair, row);
        const auto &[begin, end, endBefore, endAfter] = row;
        auto form = ShownForm(10901);
        form->txtItem[end]->setText(endBefore);
        form->txtItem[begin]->setText(QStringLiteral(" A001 "));
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(form->txtItem[begin], &out);
        QCOMPARE(form->txtItem[end]->text(), endAfter);
    }

    // Branch keys and layout by site: (branch site?, shared cards?).
    void branchSites_data()
    {
        QTest::addColumn<BranchSite>("row");
        QTest::newRow("10901 head office shared") << BranchSite{10901, false, true, "BBranchNum", "", false};
        QTest::newRow("10901 head office own cards") << BranchSite{10901, false, false, "BBranchNum", "B07", true};
        QTest::newRow("10901 branch shared") << BranchSite{10901, true, true, "BBranchNum", "", true};
        QTest::newRow("10901 branch own cards") << BranchSite{10901, true, false, "BBranchNum", "B07", true};
        QTest::newRow("10902 branch shared") << BranchSite{10902, true, true, "BBranchNum", "B07", true};
        QTest::newRow("10902 branch own cards") << BranchSite{10902, true, false, "BBranchNum", "", false};
        QTest::newRow("10902 head office") << BranchSite{10902, false, true, "BBranchNum", "", false};
        QTest::newRow("10903 branch") << BranchSite{10903, true, false, "BBranchNum", "B07", false};
        QTest::newRow("10903 head office") << BranchSite{10903, false, false, "BBranchNum", "", false};
        QTest::newRow("10904 branch") << BranchSite{10904, true, true, "BStockNo", "B07", false};
        QTest::newRow("10905 head office") << BranchSite{10905, false, true, "BStockNo", "", false};
    }
    void branchSites()
    {
        QFETCH(BranchSite, row);
        const auto &[rptId, isBranch, shared, beginKey, expected, rowsMoved] = row;
        HostContext::SetIsBranch(isBranch);
        HostContext::SetSVCardShareType(shared);
        std::unique_ptr<FilterForm> form(ReportFilter::CreateForm(rptId));
        form->SetRptID(rptId);
        const int cardRowY = form->txtItem[2]->y();
        form->show(); // load and the panel's first restore
        QVERIFY(form->txtItem[0]->isHidden());
        QCOMPARE(form->txtItem[2]->y() != cardRowY, rowsMoved);
        const DictionaryPtr saved = Saved(form.get());
        QCOMPARE(saved->Value(beginKey).toString(), expected);
        // A second restore refills the boxes but does not move the rows again.
        const int afterFirst = form->txtItem[2]->y();
        Restore(form.get(), Saved(form.get()));
        QCOMPARE(form->txtItem[2]->y(), afterFirst);
    }

    void cardRange10902CompletesOneSidedInput_data()
    {
        QTest::addColumn<CardRange>("row");
        QTest::newRow("only to") << CardRange{"", "8001", "8001", "8001"};
        QTest::newRow("only from") << CardRange{" 8001 ", "", "8001", "8001"};
        QTest::newRow("both") << CardRange{"8001", "8009", "8001", "8009"};
        QTest::newRow("neither") << CardRange{"", "  ", "", ""};
    }
    void cardRange10902CompletesOneSidedInput()
    {
        QFETCH(CardRange, row);
        const auto &[from, to, begin, end] = row;
        auto form = ShownForm(10902);
        form->txtItem[2]->setText(from);
        form->txtItem[3]->setText(to);
        const DictionaryPtr saved = Saved(form.get());
        QCOMPARE(saved->Value("BVipNum").toString(), begin);
        QCOMPARE(saved->Value("EVipNum").toString(), end);
    }

    void groupingListsBySite_data()
    {
        QTest::addColumn<Grouping>("row");
        QTest::newRow("10902 head office shared") << Grouping{10902, 2, false, true,
                                                  QStringList{"会员卡号", "消费分店", "卡类别", "业务员"}};
        QTest::newRow("10902 branch shared") << Grouping{10902, 2, true, true, QStringList{"会员卡号", "卡类别", "业务员"}};
        QTest::newRow("10902 head office own cards") << Grouping{10902, 1, false, false, QStringList{"会员卡号", "卡类别", "业务员"}};
        QTest::newRow("10904 type 3") << Grouping{10904, 3, false, true, QStringList{"商品", "会员"}};
        QTest::newRow("10904 type 8 outside the mask") << Grouping{10904, 8, false, true, QStringList{}};
        QTest::newRow("10905") << Grouping{10905, 2, true, false, QStringList{"会员"}};
    }
    void groupingListsBySite()
    {
        QFETCH(Grouping, row);
        const auto &[rptId, appType, isBranch, shared, entries] = row;
        HostContext::SetAppType(appType);
        HostContext::SetIsBranch(isBranch);
        HostContext::SetSVCardShareType(shared);
        auto form = ShownForm(rptId);
        auto *combo = form->findChild<QComboBox *>(QStringLiteral("cboGroup"));
        QCOMPARE(comboTexts(combo), entries);
        QCOMPARE(combo->currentIndex(), entries.isEmpty() ? -1 : 0);
        const DictionaryPtr saved = Saved(form.get());
        QCOMPARE(saved->Lookup("GroupBy"), !entries.isEmpty());
        if (!entries.isEmpty())
            QCOMPARE(saved->Value("GroupBy"), QVariant(qint32(0)));
    }

    // A restored grouping that the list does not offer leaves nothing selected.
    void groupByNotOffered_data()
    {
        QTest::addColumn<int>("rptId");
        QTest::addColumn<bool>("sumOnlyWritten");
        QTest::newRow("10902 stops at GroupBy") << 10902 << false;
        QTest::newRow("10905 skips GroupBy only") << 10905 << true;
    }
    void groupByNotOffered()
    {
        QFETCH(int, rptId);
        QFETCH(bool, sumOnlyWritten);
        HostContext::SetIsBranch(true);
        auto form = ShownForm(rptId);
        Restore(form.get(), Make({{"GroupBy", 1}, {"SumOnly", qint16(1)}}));
        QCOMPARE(form->findChild<QComboBox *>(QStringLiteral("cboGroup"))->currentIndex(), -1);
        const DictionaryPtr saved = Saved(form.get());
        QVERIFY(!saved->Lookup("GroupBy"));
        QCOMPARE(saved->Lookup("SumOnly"), sumOnlyWritten);
        if (sumOnlyWritten)
            QCOMPARE(saved->Value("SumOnly"), QVariant::fromValue(qint16(1)));
    }

    void datesOfThePeriodForms_data()
    {
        QTest::addColumn<PeriodDates>("row");
        const QDateTime b(QDate(2024, 5, 6), QTime(8, 30, 15)), e(QDate(2024, 5, 6), QTime(14, 7, 33));
        QTest::newRow("10903 minutes, :00 and :59") << PeriodDates{10903, b, e, "2024-05-06 08:30:00", "2024-05-06 14:07:59", true};
        QTest::newRow("10904 keeps seconds") << PeriodDates{10904, b, e, "2024-05-06 08:30:15", "2024-05-06 14:07:33", true};
        QTest::newRow("10902 whole value") << PeriodDates{10902, b, e, "2024-05-06 08:30:15", "2024-05-06 14:07:33", false};
    }
    void datesOfThePeriodForms()
    {
        QFETCH(PeriodDates, row);
        const auto &[rptId, begin, end, bDate, eDate, openedAtNow] = row;
        auto form = ShownForm(rptId);
        auto *from = form->findChild<QDateTimeEdit *>(QStringLiteral("DtpBDate"));
        auto *to = form->findChild<QDateTimeEdit *>(QStringLiteral("DtpEDate"));
        if (openedAtNow)
            QVERIFY(to->dateTime() == from->dateTime() && qAbs(from->dateTime().secsTo(QDateTime::currentDateTime())) < 120);
        from->setDateTime(begin);
        to->setDateTime(end);
        const DictionaryPtr saved = Saved(form.get());
        QCOMPARE(saved->Value("BDate").toString(), bDate);
        QCOMPARE(saved->Value("EDate").toString(), eDate);
        // A stored date that is not a date leaves the picker as it is.
        Restore(form.get(), Make({{"BDate", "abc"}, {"EDate", ""}}));
        QCOMPARE(Saved(form.get())->Value("BDate").toString(), bDate);
    }

    // Reset puts the dates back to today (10902 keeps its dates and selects its first grouping)
    // and leaves the code boxes.
    void resetRequest_data()
    {
        QTest::addColumn<ResetCase>("row");
        QTest::newRow("10903") << ResetCase{10903, " 00:00:00", " 23:59:59"};
        QTest::newRow("10904") << ResetCase{10904, " 00:00:00", " 23:59:00"};
        QTest::newRow("10902 first grouping") << ResetCase{10902, "", ""};
        QTest::newRow("10906 has no dates") << ResetCase{10906, "", ""};
    }
    void resetRequest()
    {
        QFETCH(ResetCase, row);
        const auto &[rptId, bDateSuffix, eDateSuffix] = row;
        auto form = ShownForm(rptId);
        form->txtItem[0]->setText(QStringLiteral("KEEP"));
        auto *group = rptId == 10902 ? static_cast<frmFilter10902 *>(form.get())->cboGroup : nullptr;
        if (group)
            group->setCurrentIndex(2);
        const QVariant before = Saved(form.get())->Value("BDate");
        static_cast<ReportFilterPanel *>(form->Panel())->Reset();
        const DictionaryPtr saved = Saved(form.get());
        QCOMPARE(form->txtItem[0]->text(), QStringLiteral("KEEP"));
        if (group)
            QCOMPARE(group->currentText(), QStringLiteral("会员卡号"));
        if (bDateSuffix.isEmpty()) {
            QCOMPARE(saved->Value("BDate"), before);
            return;
        }
        const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
        QCOMPARE(saved->Value("BDate").toString(), today + bDateSuffix);
        QCOMPARE(saved->Value("EDate").toString(), today + eDateSuffix);
    }

    // What each form tells the panel a lookup button lists.
    void lookupAnswers_data()
    {
        QTest::addColumn<LookupAnswer>("row");
        const QString unchanged = QStringLiteral("<as passed>");
        QTest::newRow("10901 branch") << LookupAnswer{10901, 1, false, 5, " x2.FParentID=0 "};
        QTest::newRow("10901 card") << LookupAnswer{10901, 2, true, 50, " FDeleted=0 "};
        QTest::newRow("10901 name") << LookupAnswer{10901, 4, true, -1, unchanged};
        QTest::newRow("10902 branch shared") << LookupAnswer{10902, 0, true, 5, " x2.FParentID=0 "};
        QTest::newRow("10902 branch own cards") << LookupAnswer{10902, 0, false, 5, " x2.FParentID=0 and x2.Ftradetype<>1"};
        QTest::newRow("10903 customer") << LookupAnswer{10903, 11, true, 1, unchanged};
        QTest::newRow("10903 branch own cards") << LookupAnswer{10903, 1, false, 5, " x2.FParentID=0 and x2.Ftradetype<>1"};
        QTest::newRow("10904 card type") << LookupAnswer{10904, 4, true, 51, unchanged};
        QTest::newRow("10905 card") << LookupAnswer{10905, 3, true, 50, " FDeleted=0 "};
        QTest::newRow("10906 item") << LookupAnswer{10906, 1, true, 4, unchanged};
        QTest::newRow("10908 branch") << LookupAnswer{10908, 1, false, 5, " x2.FParentID=0 "};
        QTest::newRow("10908 card type") << LookupAnswer{10908, 2, true, 51, unchanged};
        QTest::newRow("10909 card type") << LookupAnswer{10909, 3, true, 51, unchanged};
        QTest::newRow("10910 spending branch") << LookupAnswer{10910, 3, false, 5, " x2.FParentID=0 "};
        QTest::newRow("10911 branch") << LookupAnswer{10911, 0, true, 5, " x2.FParentID=0 "};
    }
    void lookupAnswers()
    {
        QFETCH(LookupAnswer, row);
        const auto &[rptId, index, shared, lookupType, condition] = row;
        HostContext::SetSVCardShareType(shared);
        auto form = ShownForm(rptId);
        QObject ctrl;
        ctrl.setProperty(FilterPanel::IndexProperty, index);
        qint32 type = -1;
        QString cond = QStringLiteral("<as passed>");
        QVariant extra;
        emit form->Panel()->GetLookupInfo(&ctrl, type, cond, extra);
        QCOMPARE(type, lookupType);
        QCOMPARE(cond, condition);
    }

    void confirmTakesThePanelFilter_data()
    {
        QTest::addColumn<int>("cancel");
        QTest::addColumn<bool>("ok");
        QTest::newRow("confirmed") << 0 << true;
        QTest::newRow("refused") << 1 << false;
    }
    void confirmTakesThePanelFilter()
    {
        QFETCH(int, cancel);
        QFETCH(bool, ok);
        auto form = ShownForm(10906);
        form->txtItem[0]->setText(QStringLiteral("I1"));
        form->txtItem[2]->setText(QStringLiteral("6901"));
        QCOMPARE(form->Panel()->GetFilterString(0), QStringLiteral("BItemNumber=I1; BarCode=6901"));   // one readable line
        qint16 c = qint16(cancel);
        emit form->Panel()->FilterConfirmed(c);
        QCOMPARE(form->Result()->Value("OK").toBool(), ok);
        QCOMPARE(form->Result()->Lookup("BarCode"), ok);
        QCOMPARE(form->FilterString().contains(QStringLiteral("BarCode=6901")), ok);
        form->hide();
    }
};

QTEST_MAIN(tst_FilterForms)
#include "tst_filterforms.moc"
