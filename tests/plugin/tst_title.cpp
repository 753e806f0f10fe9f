#include "reports/RptTitle.h"

#include "Entries.h"
#include "HostKit.h"

#include "Dictionary.h"
#include "Vector.h"

#include <QDate>
#include <QtTest>

namespace {
// The captions in order; a line without "FCaption" shows as "<none>".
QStringList captions(const VectorPtr &title)
{
    QStringList out;
    for (int i = 0; i < title->Count(); ++i) {
        const DictionaryPtr line = title->DictionaryAt(i);
        out << (line->Lookup(QStringLiteral("FCaption")) ? line->Value(QStringLiteral("FCaption")).toString()
                                                         : QStringLiteral("<none>"));
    }
    return out;
}
} // namespace

// The title block built from a filter.
class tst_Title : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        HostContext::Clear();
        HostContext::Publish();
    }

    void sections_data()
    {
        QTest::addColumn<Entries>("filter");
        QTest::addColumn<int>("appType");   // -1: no context published
        QTest::addColumn<QStringList>("expected");
        const QVariant none = QString();
        const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));

        QTest::newRow("empty filter") << Entries{} << 2 << QStringList{};
        QTest::newRow("worked example")
            << Entries{{"RptID", 10906}, {"BItemNumber", " A01 "}, {"EItemNumber", none},
                       {"BDeptNumber", none}, {"EDeptNumber", none}}
            << 2 << QStringList{"商品代码从[A01]到[]", "部门代码[全部]"};
        QTest::newRow("begin without end") << Entries{{"BItemNumber", "A"}} << 2 << QStringList{};
        QTest::newRow("spaces only") << Entries{{"BItemNumber", "  "}, {"EItemNumber", " "}} << 2
                                     << QStringList{"商品代码[全部]"};
        QTest::newRow("end only") << Entries{{"BItemNumber", none}, {"EItemNumber", "X"}} << 2
                                  << QStringList{"商品代码从[]到[X]"};
        QTest::newRow("ideographic spaces trimmed")
            << Entries{{"BItemNumber", "\u3000 "}, {"EItemNumber", "\u3000X\u3000"}} << 2 << QStringList{"商品代码从[]到[X]"};
        QTest::newRow("tab and line break kept") << Entries{{"BItemNumber", none}, {"EItemNumber", "\tX\n"}} << 2
                                                 << QStringList{"商品代码从[]到[\tX\n]"};
        QTest::newRow("section order")
            << Entries{{"BBillNumber", none}, {"EBillNumber", none}, {"BBatchNo", "1"}, {"EBatchNo", "2"},
                       {"BAuxPropNumber", none}, {"EAuxPropNumber", none}, {"BSupplyNumber", none},
                       {"ESupplyNumber", none}, {"BStockNumber", "W1"}, {"EStockNumber", "W2"},
                       {"BEmpNumber", none}, {"EEmpNumber", none}, {"BDeptNumber", none}, {"EDeptNumber", none},
                       {"BCustNumber", "C001"}, {"ECustNumber", "C099"}, {"BItemNumber", none},
                       {"EItemNumber", none}, {"BTypeIn", none}, {"ETypeIn", none}}
            << 2
            << QStringList{"收入类别[全部]", "商品代码[全部]", "客户代码从[C001]到[C099]", "部门代码[全部]",
                           "业务员代码[全部]", "仓库代码从[W1]到[W2]", "供应商代码[全部]", "辅助属性[全部]",
                           "批号从[1]到[2]", "订单编号[全部]"};
        QTest::newRow("10219 customer keys become the supplier line")
            << Entries{{"RptID", 10219}, {"BCustNumber", "S1"}, {"ECustNumber", none}, {"BStockNumber", none},
                       {"EStockNumber", none}}
            << 2 << QStringList{"仓库代码[全部]", "供应商代码从[S1]到[]"};
        QTest::newRow("expense category, handler, 10524")
            << Entries{{"RptID", 10524}, {"BTypeIn", none}, {"ETypeIn", none}, {"BEmpNumber", none}, {"EEmpNumber", none}}
            << 2 << QStringList{"支出类别[全部]", "经手人代码[全部]"};
        QTest::newRow("10413 has no employee line")
            << Entries{{"RptID", 10413}, {"BEmpNumber", none}, {"EEmpNumber", none}} << 2 << QStringList{};
        QTest::newRow("type 1 drops aux property and order number")
            << Entries{{"BAuxPropNumber", none}, {"EAuxPropNumber", none}, {"BBillNumber", none}, {"EBillNumber", none}}
            << 1 << QStringList{};
        QTest::newRow("no context is type 0, which keeps them")
            << Entries{{"BAuxPropNumber", none}, {"EAuxPropNumber", none}, {"BBillNumber", none}, {"EBillNumber", none}}
            << -1 << QStringList{"辅助属性[全部]", "订单编号[全部]"};
        QTest::newRow("type 1 keeps the 10354 document number")
            << Entries{{"RptID", 10354}, {"BBillNo", "B1"}, {"EBillNo", "B9"}, {"BStockNo", none}, {"EStockNo", none}}
            << 1 << QStringList{"仓库代码[全部]", "单据编号从[B1]到[B9]"};
        QTest::newRow("12015 item numbers")
            << Entries{{"RptID", 12015}, {"BItemNo", "I1"}, {"EItemNo", "I2"}, {"BItemNumber", "x"}, {"EItemNumber", "y"}}
            << 2 << QStringList{"商品代码从[I1]到[I2]"};
        QTest::newRow("10506 trading partner") << Entries{{"RptID", 10506}, {"BItemNumber", none}, {"EItemNumber", none}}
                                               << 2 << QStringList{"往来单位[全部]"};
        QTest::newRow("SumBy split for 10901") << Entries{{"RptID", 10901}, {"SumBy", "商品_FItemID"}, {"MultiLevel", false}}
                                               << 2 << QStringList{"汇总依据[商品]"};
        QTest::newRow("SumBy not split for 10902") << Entries{{"RptID", 10902}, {"SumBy", "商品_FItemID"}, {"MultiLevel", 0}}
                                                   << 2 << QStringList{"汇总依据[商品_FItemID]"};
        QTest::newRow("SumBy split at bar") << Entries{{"SumBy", " 客户 |FCustID"}, {"MultiLevel", "False"}} << 2
                                            << QStringList{"汇总依据[客户]"};
        QTest::newRow("SumBy multi-level")
            << Entries{{"SumBy", "商品|x"}, {"MultiLevel", true}, {"MultiLevelBegin", 1}, {"MultiLevelEnd", 3}} << 2
            << QStringList{"汇总依据[商品(1-3级)]"};
        QTest::newRow("SumBy without MultiLevel takes the multi-level form") << Entries{{"SumBy", "商品"}} << 2
                                                                             << QStringList{"汇总依据[商品(1-1级)]"};
        QTest::newRow("SumBy spaces only") << Entries{{"SumBy", "   "}} << 2 << QStringList{};
        QTest::newRow("302 real-time stock")
            << Entries{{"RptID", 302}, {"OnTime", 1}, {"BItemNumber", none}, {"EItemNumber", none}} << 2
            << QStringList{"日期[即时库存]", "商品代码[全部]", "打印日期[" + today + "]", "汇总依据[商品(1-1级)]"};
        QTest::newRow("302 stock up to a date")
            << Entries{{"RptID", 302}, {"OnTime", "0"}, {"EDate", " 2024-03-05 "}, {"MultiLevel", false}} << 2
            << QStringList{"截止日期[2024-03-05]", "打印日期[" + today + "]", "汇总依据[商品]"};
        QTest::newRow("302 empty end date gives a line without caption")
            << Entries{{"RptID", 302}, {"OnTime", 0}, {"EDate", none}, {"MultiLevel", false}} << 2
            << QStringList{"<none>", "打印日期[" + today + "]", "汇总依据[商品]"};
        QTest::newRow("302 no end date: no stock line, no print date")
            << Entries{{"RptID", 302}, {"OnTime", 0}, {"MultiLevel", false}} << 2 << QStringList{"汇总依据[商品]"};
        QTest::newRow("302 non-numeric OnTime counts as real time")
            << Entries{{"RptID", 302}, {"OnTime", "abc"}, {"MultiLevel", false}} << 2
            << QStringList{"日期[即时库存]", "打印日期[" + today + "]", "汇总依据[商品]"};
        QTest::newRow("unreadable value keeps its line")
            << Entries{{"BItemNumber", Vel::ToVariant(Dictionary::Create())}, {"EItemNumber", none},
                       {"BDeptNumber", none}, {"EDeptNumber", none}}
            << 2 << QStringList{"<none>", "部门代码[全部]"};
    }

    void sections()
    {
        QFETCH(Entries, filter);
        QFETCH(int, appType);
        QFETCH(QStringList, expected);
        if (appType < 0)
            HostContext::Withdraw();
        else
            HostContext::SetAppType(appType);
        DictionaryPtr input = MakeDictionary(filter);
        const QStringList keysBefore = input->Keys();
        DictionaryPtr property = Dictionary::Create();

        const VectorPtr title = BuildRptTitle(input, property);

        QCOMPARE(captions(title), expected);
        for (int i = 0; i < title->Count(); ++i) {
            const QVariant index = title->DictionaryAt(i)->Value(QStringLiteral("FIndex"));
            QCOMPARE(index.metaType().id(), int(QMetaType::Short));
            QCOMPARE(index.toInt(), i);
        }
        QCOMPARE(property->Value(QStringLiteral("ShowInPreview")), QVariant(qint16(1)));
        QCOMPARE(input->Keys(), keysBefore);
    }

    void noFilterAndNoProperty()
    {
        DictionaryPtr property;
        const VectorPtr title = BuildRptTitle(nullptr, property);
        QCOMPARE(captions(title), (QStringList{"商品代码[全部]", "仓库代码[全部]"}));
        QVERIFY(property);
        QCOMPARE(property->Keys(), QStringList{"ShowInPreview"});
        QCOMPARE(property->Value(QStringLiteral("ShowInPreview")).metaType().id(), int(QMetaType::Short));
    }
};

QTEST_MAIN(tst_Title)
#include "tst_title.moc"
