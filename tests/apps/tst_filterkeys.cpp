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
        QTest::addColumn<int>("rptId");
        QTest::addColumn<bool>("isBranch");
        QTest::addColumn<bool>("sharedCards");
        for (int id : VelVipRpt::ReportIds()) {
            QTest::addRow("%d_head_office_shared_cards", id) << id << false << true;
            QTest::addRow("%d_branch_site", id) << id << true << true;
            QTest::addRow("%d_cards_not_shared", id) << id << false << false;
        }
    }
    void dialogsWriteTheListedKeys()
    {
        QFETCH(int, rptId);
        QFETCH(bool, isBranch);
        QFETCH(bool, sharedCards);
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
        const DictionaryPtr checked = Dictionary::Create();
        for (const QString &k : saved->Keys())
            checked->SetValue(k, saved->Value(k));
        QCOMPARE(FilterCheck::CheckAndConvert(rptId, *checked).join(u'\n'), QString());
        for (const QString &k : saved->Keys())
            QCOMPARE(checked->Value(k), saved->Value(k));
    }
};

QTEST_MAIN(tst_FilterKeys)
#include "tst_filterkeys.moc"
