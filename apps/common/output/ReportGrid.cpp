#include "ReportGrid.h"

#include "Recordset.h"
#include "ReportOutput.h"

#include <algorithm>
#include <numeric>

namespace {

bool holdsNumbers(Recordset::FieldType type)
{
    return type == Recordset::FieldType::Integer || type == Recordset::FieldType::Double
        || type == Recordset::FieldType::DateTime || type == Recordset::FieldType::Boolean;
}

// Sort keys of one column, read once: numbers as doubles, everything else as text.
struct SortKeys
{
    std::vector<double> numbers;
    std::vector<QString> texts;
    std::vector<uint8_t> nulls;

    SortKeys(const Recordset &rs, int field)
    {
        const qint64 n = rs.RecordCount();
        nulls.resize(size_t(n));
        const auto type = rs.FieldTypeOf(field);
        const bool numeric = holdsNumbers(type);
        if (numeric)
            numbers.resize(size_t(n));
        else
            texts.resize(size_t(n));
        for (qint64 r = 0; r < n; ++r) {
            nulls[size_t(r)] = rs.IsNull(r, field);
            if (nulls[size_t(r)])
                continue;
            if (!numeric)
                texts[size_t(r)] = rs.TextAt(r, field);
            else if (type == Recordset::FieldType::DateTime)
                numbers[size_t(r)] = double(rs.Value(r, field).toDateTime().toMSecsSinceEpoch());
            else
                numbers[size_t(r)] = rs.DoubleAt(r, field);
        }
    }

    // Empty cells first.
    bool Less(qint64 a, qint64 b) const
    {
        if (nulls[size_t(a)] || nulls[size_t(b)])
            return nulls[size_t(a)] && !nulls[size_t(b)];
        if (!numbers.empty())
            return numbers[size_t(a)] < numbers[size_t(b)];
        return texts[size_t(a)] < texts[size_t(b)];
    }
};

} // namespace

ReportGrid::ReportGrid(const ReportOutput &report, bool visibleOnly)
    : ReportGrid(visibleOnly ? ColumnLayout::FromHeader(report.header).VisibleOnly()
                             : ColumnLayout::FromHeader(report.header),
                 report.rs)
{
    m_order = report.rowOrder;
}

ReportGrid::ReportGrid(ColumnLayout layout, RecordsetPtr rs)
    : m_layout(std::move(layout)), m_rs(std::move(rs))
{
    for (const ReportColumn &c : m_layout.Columns()) {
        m_fields.append(m_rs ? m_rs->FieldIndex(c.field) : -1);
        m_types.push_back(m_fields.back() >= 0 ? m_rs->FieldTypeOf(m_fields.back()) : Recordset::FieldType::Text);
    }
    if (m_rs)
        m_rowKindField = m_rs->FieldIndex(QLatin1String(Present::RowKindField));
}

qint64 ReportGrid::RowCount() const
{
    return m_rs ? m_rs->RecordCount() : 0;
}

RowKind ReportGrid::KindOf(qint64 row) const
{
    row = SourceRow(row);
    if (m_rowKindField < 0 || m_rs->IsNull(row, m_rowKindField))
        return RowKind::Detail;
    switch (m_rs->IntAt(row, m_rowKindField)) {
    case 1: return RowKind::Subtotal;
    case 2: return RowKind::Total;
    default: return RowKind::Detail;
    }
}

qint64 ReportGrid::CountedRows() const
{
    qint64 details = 0, subtotals = 0;
    for (qint64 row = 0; row < RowCount(); ++row) {
        const RowKind kind = KindOf(row);
        details += kind == RowKind::Detail;
        subtotals += kind == RowKind::Subtotal;
    }
    return CountedRows(details, subtotals);
}

bool ReportGrid::HasData() const
{
    return HasData(0, RowCount());
}

bool ReportGrid::HasData(qint64 from, qint64 to) const
{
    for (qint64 row = from; row < to; ++row)
        if (KindOf(row) != RowKind::Total)
            return true;
    return false;
}

QVariant ReportGrid::Value(qint64 row, int column) const
{
    const int field = FieldOf(column);
    return field < 0 ? QVariant() : m_rs->Value(SourceRow(row), field);
}

QString ReportGrid::Text(qint64 row, int column, FormatStyle style) const
{
    CellBuffer buffer;
    return TextView(row, column, style, buffer).toString();
}

QStringView ReportGrid::TextView(qint64 row, int column, FormatStyle style, CellBuffer &buffer) const
{
    const int field = FieldOf(column);
    if (field < 0)
        return {};
    const Recordset::Cell cell = m_rs->CellAt(SourceRow(row), field);
    if (cell.null)
        return {};
    const ColumnKind kind = m_layout.Columns().at(column).kind;
    using Type = Recordset::FieldType;
    const Type type = m_types[size_t(column)];
    int n = -1;
    if (IsNumericKind(kind)) {
        if (type == Type::Integer || type == Type::Double)
            n = Present::FormatNumber(type == Type::Integer ? double(cell.number) : cell.real, kind, style, buffer.chars);
    } else if (type == Type::DateTime) {
        const bool midnight = cell.number % 86400000 == 0;
        n = Present::FormatWallClock(cell.number, kind == ColumnKind::Text && !midnight, buffer.chars);
    } else if (kind == ColumnKind::Text && type == Type::Text) {
        return cell.text;
    } else if (kind == ColumnKind::Text && type == Type::Integer) {
        n = Present::FormatInteger(cell.number, buffer.chars);
    }
    if (n >= 0)
        return QStringView(buffer.chars, n);
    buffer.spill = Present::FormatValue(Value(row, column), kind, style);
    return buffer.spill;
}

bool ReportGrid::AlignRight(int column) const
{
    if (IsNumericKind(m_layout.Columns().at(column).kind))
        return true;
    const int field = FieldOf(column);
    const auto type = field < 0 ? Recordset::FieldType::Text : m_rs->FieldTypeOf(field);
    return type == Recordset::FieldType::Integer || type == Recordset::FieldType::Double;
}

bool ReportGrid::SortsAsNumber(int column) const
{
    const int field = FieldOf(column);
    return field >= 0 && holdsNumbers(m_rs->FieldTypeOf(field));
}

std::shared_ptr<const std::vector<qint64>> ReportGrid::SortedOrder(int column, bool descending) const
{
    auto rows = std::make_shared<std::vector<qint64>>(size_t(RowCount()));
    std::iota(rows->begin(), rows->end(), 0);
    const int field = FieldOf(column);
    if (field < 0)
        return rows;
    const SortKeys keys(*m_rs, field);
    const ReportGrid natural(m_layout, m_rs);
    auto blockStart = rows->begin();
    for (auto it = rows->begin();; ++it) {
        const bool end = it == rows->end();
        if (end || natural.KindOf(*it) != RowKind::Detail) {
            if (descending)
                std::stable_sort(blockStart, it, [&keys](qint64 a, qint64 b) { return keys.Less(b, a); });
            else
                std::stable_sort(blockStart, it, [&keys](qint64 a, qint64 b) { return keys.Less(a, b); });
            if (end)
                break;
            blockStart = it + 1;
        }
    }
    return rows;
}

bool ReportGrid::AlignRight(qint64 row, int column) const
{
    if (IsNumericKind(m_layout.Columns().at(column).kind))
        return true;
    const int field = FieldOf(column);
    if (field < 0)
        return false;
    const auto type = m_rs->FieldTypeOf(field);
    if (type != Recordset::FieldType::Integer && type != Recordset::FieldType::Double)
        return false;
    return !m_rs->IsNull(SourceRow(row), field);
}
