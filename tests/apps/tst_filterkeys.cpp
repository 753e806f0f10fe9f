#include "../filters/FilterTestSupport.h"

#include "FilterCheck.h"
#include "ReportKeys.h"
#include "facade/Catalog.h"

#include <QComboBox>

using namespace FilterTest;

namespace {

int metaTypeOf(ReportKeys::Kind kind)
{
    switch (kind) {
    case ReportKeys::Kind::Int32: return QMetaType::Int;
    case ReportKeys::Kind::Int16: return QMetaType::Short;
    case ReportKeys::Kind::Number: return QMetaType::Double;
    default: return QMetaType::QString;
    }
}

} // namespace

struct Site { int rptId; bool isBranch; bool sharedCards; };

struct CheckCase { int rptId; Entries filter; QString problems; };

// The key table that the command line checks filters against and the README lists is the
// one the filter dialogs really write.
class tst_FilterKeys : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { InitEnvironment(); }
    void init() { ResetEnvironment(); }
    void cleanup() { QVERIFY2(LeakedWindows().isEmpty(), "a window was left open"); }

    void dialogsWriteTheListedKeys_data()
    {
        QTest::addColumn<Site>("row");
        for (int id : VelVipRpt::ReportIds()) {
            QTest::addRow("%d_head_office_shared_cards", id) << Site{id, false, true};
            QTest::addRow("%d_branch_site", id) << Site{id, true, true};
            QTest::addRow("%d_cards_not_shared", id) << Site{id, false, false};
        }
    }
    void dialogsWriteTheListedKeys()
    {
        QFETCH(Site, row);
        const auto &[rptId, isBranch, sharedCards] = row;
        HostContext::SetIsBranch(isBranch);
        HostContext::SetSVCardShareType(sharedCards);
        auto form = ShownForm(rptId);
        const DictionaryPtr saved = Saved(form.get());

        QStringList names;
        QList<int> types;
        for (const ReportKeys::Key &k : ReportKeys::KeysOf(rptId)) {
            names << k.name;
            types << metaTypeOf(k.kind);
        }
        QCOMPARE(saved->Keys(), names);
        QCOMPARE(TypeIds(saved), types);

        // The grouping list offers the listed values; those without a note are always offered.
        if (const ReportKeys::Key *group = ReportKeys::Find(rptId, QStringLiteral("GroupBy"))) {
            const auto *combo = form->findChild<QComboBox *>(QStringLiteral("cboGroup"));
            QVERIFY(combo);
            QList<qint32> offered;
            for (int i = 0; i < combo->count(); ++i)
                offered << combo->itemData(i).toInt();
            for (qint32 v : offered)
                QVERIFY2(group->Accepts(v), qPrintable(QString::number(v)));
            for (const ReportKeys::Choice &c : group->choices)
                if (c.note.isEmpty())
                    QVERIFY2(offered.contains(c.value), qPrintable(c.meaning));
        }

        // What a dialog writes passes the command line's check unchanged.
        const DictionaryPtr checked = Saved(form.get());
        QCOMPARE(FilterCheck::CheckAndConvert(rptId, *checked).join(u'\n'), QString());
        for (const QString &k : saved->Keys())
            QCOMPARE(checked->Value(k), saved->Value(k));
    }

    void checkSaysOnlyWhatIsWrong_data()
    {
        QTest::addColumn<CheckCase>("row");
        QTest::newRow("title_only_keys") << CheckCase{10906, Entries{{"BDeptNumber", ""}, {"EDeptNumber", "D9"}, {"SumBy", "x"}},
                                         ""};
        QTest::newRow("title_key_range_reversed") << CheckCase{10903, Entries{{"BCustNumber", "C9"}, {"ECustNumber", "C1"}},
                                                  "范围颠倒：起始 BCustNumber“C9”大于截止 ECustNumber“C1”"};
        QTest::newRow("own_key_of_a_title_name_once") << CheckCase{10906, Entries{{"BItemNumber", "9"}, {"EItemNumber", "1"}},
                                                      "范围颠倒：起始 BItemNumber“9”大于截止 EItemNumber“1”"};
        QTest::newRow("unreadable_date_no_reversed_range")
            << CheckCase{10903, Entries{{"BDate", "2024-05-01"}, {"EDate", "05/31/2024"}},
            "过滤条件“EDate”的值“05/31/2024”不是可识别的日期，请写成 2024-05-31 或 2024-05-31 23:59:59"};
    }
    void checkSaysOnlyWhatIsWrong()
    {
        QFETCH(CheckCase, row);
        const auto &[rptId, filter, problems] = row;
        QCOMPARE(FilterCheck::CheckAndConvert(rptId, *Make(filter)).join(u'\n'), problems);
    }
};

QTEST_MAIN(tst_FilterKeys)
#include "tst_filterkeys.moc"
