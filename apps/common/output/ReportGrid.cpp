#include "ReportGrid.h"

#include "Recordset.h"
#include "ReportOutput.h"

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
    for (const ReportColumn &c : m_layout.Columns())
        m_fields.append(m_rs ? m_rs->FieldIndex(c.field) : -1);
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
    const qint64 source = SourceRow(row);
    if (m_rs->IsNull(source, field))
        return {};
    const ColumnKind kind = m_layout.Columns().at(column).kind;
    using Type = Recordset::FieldType;
    const Type type = m_rs->FieldTypeOf(field);
    int n = -1;
    if (IsNumericKind(kind)) {
        if (type == Type::Integer || type == Type::Double)
            n = Present::FormatNumber(m_rs->DoubleAt(source, field), kind, style, buffer.chars);
    } else if (type == Type::DateTime) {
        const qint64 ms = m_rs->WallClockMsecsAt(source, field);
        const bool midnight = ms % 86400000 == 0;
        n = Present::FormatWallClock(ms, kind == ColumnKind::Text && !midnight, buffer.chars);
    } else if (kind == ColumnKind::Text && type == Type::Text) {
        return m_rs->TextViewAt(source, field);
    } else if (kind == ColumnKind::Text && type == Type::Integer) {
        n = Present::FormatInteger(m_rs->IntAt(source, field), buffer.chars);
    }
    if (n >= 0)
        return QStringView(buffer.chars, n);
    buffer.spill = Present::FormatValue(Value(row, column), kind, style);
    return buffer.spill;
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
