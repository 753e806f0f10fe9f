#include "reports/RptTitle.h"

#include "Dictionary.h"
#include "FilterRules.h"
#include "HostContextReader.h"
#include "VariantConvert.h"
#include "Vector.h"

#include <QDate>
#include <QStringList>

#include <functional>
#include <initializer_list>

namespace {

using VariantConvert::ToText;

// Runs one step of the builder; a failing step is abandoned and the builder goes on.
template <class F>
void step(F &&f)
{
    try {
        f();
    } catch (...) {
    }
}

class TitleBuilder
{
public:
    TitleBuilder(const DictionaryPtr &filter, qint32 appType)
        : m_filter(filter), m_appType(appType), m_title(Vector::Create())
    {
    }

    VectorPtr Build()
    {
        categorySection();
        stockDateSection();
        itemSection();
        printDateSection();
        customerSection();
        departmentSection();
        employeeSection();
        warehouseSection();
        supplierSection();
        auxPropSection();
        rangeLine(QStringLiteral("批号"), QStringLiteral("BBatchNo"), QStringLiteral("EBatchNo"));
        billNumberSection();
        summarySection();
        fixedSummarySection();
        return m_title;
    }

private:
    // True when the filter's "RptID" equals one of `ids`. A "RptID" that is not a number makes
    // the test fail; the caller then takes the branch the test guards, given by `onFailure`.
    bool rptIs(std::initializer_list<qint32> ids, bool onFailure = true) const
    {
        try {
            const double id = VariantConvert::ToDouble(m_filter->GetValue(QStringLiteral("RptID"), qint32(0)));
            for (qint32 candidate : ids)
                if (id == double(candidate))
                    return true;
            return false;
        } catch (...) {
            return onFailure;
        }
    }

    bool has(const QString &key) const { return m_filter->Lookup(key); }

    QString trimmedText(const QString &key) const
    {
        return FilterRules::TrimSpaces(ToText(m_filter->GetValue(key, QString())));
    }

    // Appends a line, numbering it with the running counter.
    void append(const DictionaryPtr &line)
    {
        step([&] { line->SetValue(QStringLiteral("FIndex"), VariantConvert::Short(m_counter)); });
        step([&] { m_title->Add(line); });
        ++m_counter;
    }

    void rangeLine(const QString &caption, const QString &beginKey, const QString &endKey)
    {
        if (!(has(beginKey) && has(endKey)))
            return;
        DictionaryPtr line = Dictionary::Create();
        step([&] {
            const QString b = trimmedText(beginKey);
            const QString e = trimmedText(endKey);
            const QString text = (!b.isEmpty() || !e.isEmpty())
                ? caption + QStringLiteral("从[") + b + QStringLiteral("]到[") + e + QStringLiteral("]")
                : caption + QStringLiteral("[全部]");
            line->SetValue(QStringLiteral("FCaption"), text);
        });
        append(line);
    }

    void categorySection()
    {
        const QString caption = rptIs({10524}) ? QStringLiteral("支出类别") : QStringLiteral("收入类别");
        rangeLine(caption, QStringLiteral("BTypeIn"), QStringLiteral("ETypeIn"));
    }

    void stockDateSection()
    {
        if (!rptIs({302}) || !has(QStringLiteral("OnTime")))
            return;
        DictionaryPtr line = Dictionary::Create();
        bool realTime = true;   // a value that cannot be compared takes the real-time branch
        step([&] { realTime = VariantConvert::ToDouble(trimmedText(QStringLiteral("OnTime"))) != 0.0; });
        if (realTime) {
            line->SetValue(QStringLiteral("FCaption"), QStringLiteral("日期[即时库存]"));
        } else {
            if (!has(QStringLiteral("EDate")))
                return;
            step([&] {
                const QString end = trimmedText(QStringLiteral("EDate"));
                if (!end.isEmpty())
                    line->SetValue(QStringLiteral("FCaption"), QStringLiteral("截止日期[") + end + QStringLiteral("]"));
            });
        }
        append(line);
        m_stockDate = true;
    }

    void itemSection()
    {
        const bool itemNo = rptIs({12015, 12016});
        const QString caption = rptIs({10506}) ? QStringLiteral("往来单位") : QStringLiteral("商品代码");
        if (itemNo)
            rangeLine(caption, QStringLiteral("BItemNo"), QStringLiteral("EItemNo"));
        else
            rangeLine(caption, QStringLiteral("BItemNumber"), QStringLiteral("EItemNumber"));
    }

    void printDateSection()
    {
        if (!(m_stockDate && rptIs({302})))
            return;
        m_stockDate = false;
        DictionaryPtr line = Dictionary::Create();
        line->SetValue(QStringLiteral("FCaption"),
                       QStringLiteral("打印日期[") + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))
                           + QStringLiteral("]"));
        append(line);
    }

    void customerSection()
    {
        if (rptIs({10219, 10220}, false))
            return;
        rangeLine(QStringLiteral("客户代码"), QStringLiteral("BCustNumber"), QStringLiteral("ECustNumber"));
    }

    void departmentSection()
    {
        rangeLine(QStringLiteral("部门代码"), QStringLiteral("BDeptNumber"), QStringLiteral("EDeptNumber"));
    }

    void employeeSection()
    {
        if (rptIs({10413}, false))
            return;
        const QString caption = rptIs({10501, 10506, 10522, 10524}) ? QStringLiteral("经手人代码")
                                                                   : QStringLiteral("业务员代码");
        rangeLine(caption, QStringLiteral("BEmpNumber"), QStringLiteral("EEmpNumber"));
    }

    void warehouseSection()
    {
        if (rptIs({10354}))
            rangeLine(QStringLiteral("仓库代码"), QStringLiteral("BStockNo"), QStringLiteral("EStockNo"));
        else
            rangeLine(QStringLiteral("仓库代码"), QStringLiteral("BStockNumber"), QStringLiteral("EStockNumber"));
    }

    void supplierSection()
    {
        const QString caption = QStringLiteral("供应商代码");
        if (rptIs({10219, 10220}))
            rangeLine(caption, QStringLiteral("BCustNumber"), QStringLiteral("ECustNumber"));
        else if (rptIs({10229}))
            rangeLine(caption, QStringLiteral("BSupply"), QStringLiteral("ESupply"));
        else
            rangeLine(caption, QStringLiteral("BSupplyNumber"), QStringLiteral("ESupplyNumber"));
    }

    void auxPropSection()
    {
        if (m_appType == 1)
            return;
        if (rptIs({302}))
            rangeLine(QStringLiteral("辅助属性"), QStringLiteral("BAuxNumber"), QStringLiteral("EAuxNumber"));
        else
            rangeLine(QStringLiteral("辅助属性"), QStringLiteral("BAuxPropNumber"), QStringLiteral("EAuxPropNumber"));
    }

    void billNumberSection()
    {
        const bool billNo = rptIs({10227, 10325, 10351, 10352, 10354, 10357});
        const bool documentCaption = rptIs({10354});
        if (!documentCaption && m_appType == 1)
            return;
        const QString caption = documentCaption ? QStringLiteral("单据编号") : QStringLiteral("订单编号");
        if (billNo)
            rangeLine(caption, QStringLiteral("BBillNo"), QStringLiteral("EBillNo"));
        else
            rangeLine(caption, QStringLiteral("BBillNumber"), QStringLiteral("EBillNumber"));
    }

    void summarySection()
    {
        if (!has(QStringLiteral("SumBy")))
            return;
        QString sumBy;
        step([&] { sumBy = trimmedText(QStringLiteral("SumBy")); });
        if (sumBy.isEmpty())
            return;
        const QChar separator = rptIs({10901, 10903}) ? QLatin1Char('_') : QLatin1Char('|');
        summaryLine(FilterRules::TrimSpaces(sumBy.section(separator, 0, 0)));
    }

    void fixedSummarySection()
    {
        if (rptIs({302}))
            summaryLine(QStringLiteral("商品"));
    }

    void summaryLine(const QString &basis)
    {
        DictionaryPtr line = Dictionary::Create();
        bool multiLevel = true;   // a value that is not a truth value takes the multi-level form
        step([&] { multiLevel = VariantConvert::ToBool(m_filter->GetValue(QStringLiteral("MultiLevel"), QString())); });
        step([&] {
            QString text = QStringLiteral("汇总依据[") + basis;
            if (multiLevel) {
                text += QStringLiteral("(") + ToText(m_filter->GetValue(QStringLiteral("MultiLevelBegin"), QStringLiteral("1")))
                    + QStringLiteral("-") + ToText(m_filter->GetValue(QStringLiteral("MultiLevelEnd"), QStringLiteral("1")))
                    + QStringLiteral("级)");
            }
            line->SetValue(QStringLiteral("FCaption"), text + QStringLiteral("]"));
        });
        append(line);
    }

    DictionaryPtr m_filter;
    qint32 m_appType;
    VectorPtr m_title;
    qint16 m_counter = 0;
    bool m_stockDate = false;
};

DictionaryPtr openRangesFilter()
{
    DictionaryPtr filter = Dictionary::Create();
    for (const char *key : {"BItemNumber", "EItemNumber", "BStockNumber", "EStockNumber"})
        filter->SetValue(QString::fromLatin1(key), QString());
    return filter;
}

} // namespace

VectorPtr BuildRptTitle(DictionaryPtr filter, DictionaryPtr &property)
{
    qint32 appType = 0;
    step([&] { appType = GetAppType(); });
    if (!property)
        property = Dictionary::Create();
    property->SetValue(QStringLiteral("ShowInPreview"), VariantConvert::Short(qint16(1)));
    if (!filter)
        filter = openRangesFilter();
    return TitleBuilder(filter, appType).Build();
}
