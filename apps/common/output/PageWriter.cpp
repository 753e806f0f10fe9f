#include "Dictionary.h"
#include "Recordset.h"
#include "ReportGrid.h"
#include "ReportRules.h"
#include "ReportWriters.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <vector>

// The portal's line-delimited answer: the layout and chart decided here, cells as the text
// outputs print them, the title block once the run has ended.
namespace Present {

namespace {

// Rows a line carries at most, so that the first screen does not wait for a long line.
constexpr qint64 kRowsPerLine = 200;

QString kindName(ColumnKind kind)
{
    switch (kind) {
    case ColumnKind::Date: return QStringLiteral("date");
    case ColumnKind::Quantity: return QStringLiteral("quantity");
    case ColumnKind::UnitPrice: return QStringLiteral("price");
    case ColumnKind::Amount: return QStringLiteral("amount");
    case ColumnKind::Text: break;
    }
    return QStringLiteral("text");
}

// The position of the column showing `field` (as the desktop chart finds it), -1 for none.
int columnOf(const ColumnLayout &layout, const QString &field)
{
    if (field.isEmpty())
        return -1;
    for (int c = 0; c < layout.Count(); ++c)
        if (layout.Columns().at(c).field.compare(field, Qt::CaseInsensitive) == 0)
            return c;
    return -1;
}

QString chartCaption(const ColumnLayout &layout, int c)
{
    if (c < 0)
        return {};
    const ReportColumn &column = layout.Columns().at(c);
    return column.IsGrouped() ? column.subCaption : column.topCaption;
}

QDate dayOf(const DictionaryPtr &filter, const QString &key)
{
    const QVariant v = filter ? filter->Value(key) : QVariant();
    if (v.typeId() == QMetaType::QDateTime)
        return v.toDateTime().date();
    if (v.typeId() == QMetaType::QDate)
        return v.toDate();
    return QDate::fromString(v.toString().trimmed().left(10), Qt::ISODate);
}

const ReportRules::Rule &ruleOf(const ReportOutput &report)
{
    return ReportRules::Of(report.filter ? report.filter->Value(QStringLiteral("RptID")).toInt() : 0);
}

// What the report's chart draws, by column position; null when it has none.
QJsonValue chartOf(const ReportOutput &report, const ColumnLayout &layout)
{
    const ReportRules::Rule &rule = ruleOf(report);
    const int key = columnOf(layout, rule.key), label = columnOf(layout, rule.label);
    const int value = columnOf(layout, rule.value), value2 = columnOf(layout, rule.value2);
    const int day = columnOf(layout, rule.day), card = columnOf(layout, rule.card);
    const auto iso = [](const QDate &d) { return d.isValid() ? d.toString(Qt::ISODate) : QString(); };
    switch (rule.chart) {
    case ReportRules::Chart::Bars:
        return QJsonObject{{QStringLiteral("kind"), QStringLiteral("bars")},
                           {QStringLiteral("title"), rule.title.contains(QLatin1String("%1"))
                                                         ? rule.title.arg(chartCaption(layout, key)) : rule.title},
                           {QStringLiteral("key"), key}, {QStringLiteral("label"), label}, {QStringLiteral("value"), value},
                           {QStringLiteral("axis"), chartCaption(layout, label)},
                           {QStringLiteral("names"), QJsonArray{chartCaption(layout, value)}},
                           {QStringLiteral("none"), QStringLiteral("（无）")}};
    case ReportRules::Chart::DailyLine:
        return QJsonObject{{QStringLiteral("kind"), QStringLiteral("daily")}, {QStringLiteral("title"), rule.title},
                           {QStringLiteral("day"), day}, {QStringLiteral("value"), value},
                           {QStringLiteral("names"), QJsonArray{QStringLiteral("%1（每日合计）").arg(chartCaption(layout, value))}},
                           {QStringLiteral("first"), iso(dayOf(report.filter, QStringLiteral("BDate")))},
                           {QStringLiteral("last"), iso(dayOf(report.filter, QStringLiteral("EDate")))}};
    case ReportRules::Chart::CardLedger: {
        const int year = report.filter ? report.filter->Value(QStringLiteral("Year")).toString().trimmed().toInt() : 0;
        const int month = report.filter ? report.filter->Value(QStringLiteral("Month")).toString().trimmed().toInt() : 0;
        const QDate first(year, month, 1);
        return QJsonObject{{QStringLiteral("kind"), QStringLiteral("ledger")},
                           {QStringLiteral("title"), ReportRules::LedgerTitle(rule, {}, first)},
                           {QStringLiteral("card"), card}, {QStringLiteral("day"), day}, {QStringLiteral("value"), value},
                           {QStringLiteral("value2"), value2},
                           {QStringLiteral("names"), QJsonArray{chartCaption(layout, value), chartCaption(layout, value2)}},
                           {QStringLiteral("first"), iso(first)},
                           {QStringLiteral("last"), iso(first.isValid() ? first.addMonths(1).addDays(-1) : QDate())}};
    }
    case ReportRules::Chart::None:
        break;
    }
    return QJsonValue(QJsonValue::Null);
}

class PageRowText final : public RowText
{
public:
    explicit PageRowText(ByteSink &out) : m_out(out) {}

    void Head(const ReportOutput &report) override
    {
        m_grid = ReportGrid(report, false);
        const ColumnLayout &layout = m_grid.Layout();
        // Hidden columns keep their places but go empty, unless the chart draws from them: the
        // page never shows them (a member's phone and address among them).
        const ReportRules::Rule &rule = ruleOf(report);
        const QStringList charted{rule.card, rule.day, rule.key, rule.label, rule.value, rule.value2};
        m_sent.clear();
        QJsonArray columns;
        for (int c = 0; c < layout.Count(); ++c) {
            const ReportColumn &column = layout.Columns().at(c);
            m_sent.push_back(column.visible || charted.contains(column.field, Qt::CaseInsensitive));
            columns.append(QJsonObject{
                {QStringLiteral("field"), column.field}, {QStringLiteral("caption"), column.FlatCaption()},
                {QStringLiteral("kind"), kindName(column.kind)},
                {QStringLiteral("decimals"), IsNumericKind(column.kind) ? DecimalsOf(column.kind) : 0},
                // Grid text groups thousands where the plain text does not.
                {QStringLiteral("grouping"), IsNumericKind(column.kind)
                     && FormatValue(1000.0, column.kind, FormatStyle::Grid) != FormatValue(1000.0, column.kind, FormatStyle::Plain)},
                {QStringLiteral("align"), m_grid.AlignRight(c) ? QStringLiteral("right") : QStringLiteral("left")},
                {QStringLiteral("sort"), m_grid.SortsAsNumber(c) ? QStringLiteral("number") : QStringLiteral("text")},
                {QStringLiteral("visible"), column.visible}});
        }
        // The header over the visible columns; each cell's column is a position among them.
        const ColumnLayout shown = layout.VisibleOnly();
        QJsonArray header;
        for (const HeaderCell &cell : shown.Cells())
            header.append(QJsonObject{{QStringLiteral("row"), cell.row}, {QStringLiteral("column"), cell.column},
                                      {QStringLiteral("rowSpan"), cell.rowSpan}, {QStringLiteral("columnSpan"), cell.columnSpan},
                                      {QStringLiteral("text"), cell.text}});
        line(QStringLiteral("head"), QJsonObject{{QStringLiteral("columns"), columns}, {QStringLiteral("header"), header},
                                                 {QStringLiteral("headerRows"), shown.HeaderRows()},
                                                 // Set with the report's properties, before its query.
                                                 {QStringLiteral("frozen"), report.FrozenColumns()},
                                                 {QStringLiteral("chart"), chartOf(report, layout)}});
    }

    void Rows(qint64 from, qint64 to) override
    {
        const int columns = m_grid.ColumnCount();
        for (qint64 r = from; r < to; ++r) {
            const bool first = m_inLine == 0;
            m_out.Put(first ? "{\"rows\":[[" : ",[");
            const RowKind kind = m_grid.KindOf(r);
            m_out.Put(char('0' + int(kind)));
            for (int c = 0; c < columns; ++c) {
                m_out.Put(',');
                if (m_sent[size_t(c)])
                    PutJsonString(m_out, m_grid.TextView(r, c, FormatStyle::Plain, m_buffer));
                else
                    m_out.Put("\"\"");
            }
            m_out.Put(']');
            m_details += kind == RowKind::Detail;
            m_subtotals += kind == RowKind::Subtotal;
            if (kind == RowKind::Total)
                m_total = r;
            m_data = m_data || kind != RowKind::Total;
            if (++m_inLine == kRowsPerLine)
                endLine();
        }
        // A batch ends its line, so that the rows that arrived are read at once.
        endLine();
    }

    void Tail(const ReportOutput &report) override
    {
        endLine();
        line(QStringLiteral("tail"),
             QJsonObject{{QStringLiteral("state"), QStringLiteral("done")}, {QStringLiteral("name"), report.Name()},
                         {QStringLiteral("lines"), QJsonArray::fromStringList(report.TitleLines())},
                         {QStringLiteral("filters"), QJsonArray::fromStringList(report.FilterLines())},
                         {QStringLiteral("period"), report.PeriodLine()},
                         {QStringLiteral("frozen"), report.FrozenColumns()},
                         {QStringLiteral("sortable"), report.SortEnabled()},
                         {QStringLiteral("total"), m_total}, {QStringLiteral("rows"), ReportGrid::CountedRows(m_details, m_subtotals)},
                         {QStringLiteral("empty"), !m_data}});
        m_out.Flush();
    }

    bool HeadBeforeRows() const override { return true; }

private:
    void line(const QString &name, const QJsonObject &value)
    {
        m_out.Put(QJsonDocument(QJsonObject{{name, value}}).toJson(QJsonDocument::Compact).toStdString());
        m_out.Put('\n');
    }
    void endLine()
    {
        if (m_inLine == 0)
            return;
        m_out.Put("]}\n");
        m_inLine = 0;
    }

    ByteSink &m_out;
    ReportGrid m_grid;
    std::vector<bool> m_sent;   // per column: its text is sent
    CellBuffer m_buffer;
    qint64 m_inLine = 0;
    qint64 m_details = 0, m_subtotals = 0;
    qint64 m_total = -1;
    bool m_data = false;
};

} // namespace

std::unique_ptr<RowText> PageRows(ByteSink &out)
{
    return std::make_unique<PageRowText>(out);
}

} // namespace Present
