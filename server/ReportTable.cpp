#include "ReportTable.h"

#include "RowCursor.h"
#include "VelError.h"

#include <QDateTime>

namespace {

Recordset::FieldType fieldType(ReportTable::Kind kind)
{
    switch (kind) {
    case ReportTable::Kind::Text:
    case ReportTable::Kind::DateTimeText: return Recordset::FieldType::Text;
    case ReportTable::Kind::Date: return Recordset::FieldType::DateTime;
    case ReportTable::Kind::Money:
    case ReportTable::Kind::Qty: return Recordset::FieldType::Double;
    case ReportTable::Kind::Count: return Recordset::FieldType::Integer;
    }
    return Recordset::FieldType::Text;
}

} // namespace

ReportTable::ReportTable(std::vector<Column> columns)
    : m_columns(std::move(columns)), m_rs(Recordset::Create())
{
    for (const Column &c : m_columns)
        m_rs->AddField(c.name, fieldType(c.kind));
    m_rowKind = m_rs->AddField(QStringLiteral("FRowKind"), Recordset::FieldType::Integer);
    m_rs->Open();
    // A host writing rows as they arrive is told of them in batches.
    if (const Recordset::RunWatch *watch = Recordset::ThreadWatch()) {
        m_rs->WatchRows([watch = *watch, rows = std::weak_ptr<Recordset>(m_rs)](qint64 complete) {
            if (const RecordsetPtr rs = rows.lock())
                watch(rs, complete);
        }, kWatchRows);
    }
    m_group.assign(m_columns.size(), 0);
    m_total.assign(m_columns.size(), 0);
}

int ReportTable::Field(const QString &name) const
{
    const int f = m_rs->FieldIndex(name);
    if (f < 0)
        throw VelError(QStringLiteral("No report field \"%1\"").arg(name));
    return f;
}

void ReportTable::CopyDetail(const RowCursor &cursor, bool keep)
{
    const qint64 row = keep ? AddRow(Detail) : -1;
    for (size_t f = 0; f < m_columns.size(); ++f) {
        const Column &c = m_columns[f];
        if (c.source < 0)
            continue;
        switch (c.kind) {
        case Kind::Text:
        case Kind::DateTimeText:
        case Kind::Date: {
            if (!keep)
                break;
            const QStringView text = cursor.TextOrNull(c.source);
            if (text.isNull())
                break;
            if (c.kind == Kind::Date)
                SetDate(row, int(f), text);
            else
                m_rs->SetText(row, int(f), text);
            break;
        }
        case Kind::Money:
        case Kind::Qty:
        case Kind::Count: {
            if (cursor.IsNull(c.source))
                break;
            const qint64 v = cursor.Int(c.source);
            if (keep)
                SetNumber(row, int(f), v);
            if (c.summed)
                Accumulate(int(f), v);
            break;
        }
        }
    }
    ++m_groupRows;
}

void ReportTable::Accumulate(int field, qint64 value)
{
    m_group[size_t(field)] += value;
    m_total[size_t(field)] += value;
}

qint64 ReportTable::AddRow(RowKind kind)
{
    const qint64 row = m_rs->AddRow();
    m_rs->SetInt(row, m_rowKind, kind);
    return row;
}

void ReportTable::SetText(qint64 row, int field, QStringView text)
{
    m_rs->SetText(row, field, text);
}

void ReportTable::SetNumber(qint64 row, int field, qint64 value)
{
    switch (m_columns[size_t(field)].kind) {
    case Kind::Money: m_rs->SetDouble(row, field, double(value) / 100.0); break;
    case Kind::Qty: m_rs->SetDouble(row, field, double(value) / 1000.0); break;
    default: m_rs->SetInt(row, field, value); break;
    }
}

void ReportTable::SetDate(qint64 row, int field, QStringView sqlDateTime)
{
    // "yyyy-MM-dd[ HH:mm:ss]" read by hand: parsing through the local time zone costs a
    // system call per value.
    auto number = [&](int from, int length) {
        int v = 0;
        for (int i = from; i < from + length; ++i) {
            const char16_t c = i < sqlDateTime.size() ? sqlDateTime[i].unicode() : u'x';
            if (c < u'0' || c > u'9')
                return -1;
            v = v * 10 + (c - u'0');
        }
        return v;
    };
    const QDate date(number(0, 4), number(5, 2), number(8, 2));
    QTime time(0, 0);
    if (sqlDateTime.size() >= 19)
        time = QTime(number(11, 2), number(14, 2), number(17, 2));
    if (date.isValid() && time.isValid())
        m_rs->SetDateTime(row, field, QDateTime(date, time, Qt::UTC));
}

qint64 ReportTable::addSums(RowKind kind, std::vector<qint64> &sums)
{
    const qint64 row = AddRow(kind);
    for (size_t f = 0; f < m_columns.size(); ++f) {
        if (m_columns[f].summed)
            SetNumber(row, int(f), sums[f]);
    }
    return row;
}

qint64 ReportTable::AddSubtotal()
{
    const qint64 row = addSums(Subtotal, m_group);
    std::fill(m_group.begin(), m_group.end(), 0);
    m_groupRows = 0;
    return row;
}

qint64 ReportTable::AddTotal()
{
    return addSums(Total, m_total);
}
