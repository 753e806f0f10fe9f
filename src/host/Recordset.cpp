#include "Recordset.h"

#include "VelError.h"


namespace {

qint64 wallClockMsecs(const QDateTime &dt)
{
    return QDateTime(dt.date(), dt.time(), Qt::UTC).toMSecsSinceEpoch();
}

QDateTime fromWallClockMsecs(qint64 ms)
{
    const QDateTime utc = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    return QDateTime(utc.date(), utc.time());
}

} // namespace

int Recordset::AddField(const QString &name, FieldType type)
{
    if (m_open || m_rows > 0)
        throw VelError(QStringLiteral("Fields can only be added to a closed, empty record set"));
    const QString key = name.toLower();
    if (m_index.contains(key))
        throw VelError(QStringLiteral("Duplicate field \"%1\"").arg(name));
    Column c;
    c.name = name;
    c.type = type;
    m_columns.push_back(std::move(c));
    const int field = int(m_columns.size() - 1);
    m_index.insert(key, field);
    return field;
}

void Recordset::Open()
{
    m_open = true;
    m_pos = 0;
}

void Recordset::Close()
{
    m_open = false;
    m_columns.clear();
    m_index.clear();
    m_rows = 0;
    m_pos = 0;
}

int Recordset::FieldIndex(const QString &name) const
{
    return m_index.value(name.toLower(), -1);
}

QStringList Recordset::FieldNames() const
{
    QStringList names;
    for (const Column &c : m_columns)
        names << c.name;
    return names;
}

Recordset::Column &Recordset::column(int field)
{
    if (field < 0 || size_t(field) >= m_columns.size())
        throw VelError(QStringLiteral("No field at position %1").arg(field));
    return m_columns[size_t(field)];
}

const Recordset::Column &Recordset::column(int field) const
{
    if (field < 0 || size_t(field) >= m_columns.size())
        throw VelError(QStringLiteral("No field at position %1").arg(field));
    return m_columns[size_t(field)];
}

void Recordset::checkCell(qint64 row, int field) const
{
    if (row < 0 || row >= m_rows)
        throw VelError(QStringLiteral("No row at position %1").arg(row));
    column(field);
}

void Recordset::Reserve(qint64 rows)
{
    for (Column &c : m_columns) {
        switch (c.type) {
        case FieldType::Integer:
        case FieldType::DateTime: c.ints.reserve(size_t(rows)); break;
        case FieldType::Double: c.doubles.reserve(size_t(rows)); break;
        case FieldType::Boolean: c.bools.reserve(size_t(rows)); break;
        case FieldType::Text: c.texts.reserve(size_t(rows)); break;
        }
        c.nulls.reserve(size_t(rows / 64 + 1));
    }
}

qint64 Recordset::AddRow()
{
    const qint64 row = m_rows;
    for (Column &c : m_columns) {
        switch (c.type) {
        case FieldType::Integer:
        case FieldType::DateTime: c.ints.push_back(0); break;
        case FieldType::Double: c.doubles.push_back(0); break;
        case FieldType::Boolean: c.bools.push_back(0); break;
        case FieldType::Text: c.texts.push_back({0, 0}); break;
        }
        if (size_t(row / 64) >= c.nulls.size())
            c.nulls.push_back(0);
        c.nulls[size_t(row / 64)] |= uint64_t(1) << (row % 64);
    }
    ++m_rows;
    m_pos = row;
    return row;
}

void Recordset::setNullBit(Column &c, qint64 row, bool isNull)
{
    const uint64_t bit = uint64_t(1) << (row % 64);
    if (isNull)
        c.nulls[size_t(row / 64)] |= bit;
    else
        c.nulls[size_t(row / 64)] &= ~bit;
}

void Recordset::SetNull(qint64 row, int field)
{
    checkCell(row, field);
    setNullBit(column(field), row, true);
}

void Recordset::SetInt(qint64 row, int field, qint64 value)
{
    checkCell(row, field);
    Column &c = column(field);
    switch (c.type) {
    case FieldType::Integer: c.ints[size_t(row)] = value; break;
    case FieldType::Double: c.doubles[size_t(row)] = double(value); break;
    case FieldType::Boolean: c.bools[size_t(row)] = value != 0; break;
    default: SetValue(row, field, QVariant(value)); return;
    }
    setNullBit(c, row, false);
}

void Recordset::SetDouble(qint64 row, int field, double value)
{
    checkCell(row, field);
    Column &c = column(field);
    if (c.type != FieldType::Double) {
        SetValue(row, field, QVariant(value));
        return;
    }
    c.doubles[size_t(row)] = value;
    setNullBit(c, row, false);
}

void Recordset::SetBool(qint64 row, int field, bool value)
{
    SetValue(row, field, QVariant(value));
}

void Recordset::SetText(qint64 row, int field, QStringView text)
{
    checkCell(row, field);
    Column &c = column(field);
    if (c.type != FieldType::Text) {
        SetValue(row, field, QVariant(text.toString()));
        return;
    }
    const size_t length = size_t(text.size());
    const auto *chars = reinterpret_cast<const char16_t *>(text.utf16());
    TextRef ref{0, uint32_t(length)};
    if (length > 0) {
        // Codes, names and dates repeat down a column: a repeated value shares one copy.
        constexpr size_t recentSlots = 4096;
        if (c.recent.empty())
            c.recent.assign(recentSlots, TextRef{0, UINT32_MAX});
        TextRef &slot = c.recent[qHash(text) & (recentSlots - 1)];
        if (slot.length == length && std::char_traits<char16_t>::compare(c.arena.data() + slot.offset, chars, length) == 0) {
            ref = slot;
        } else {
            if (c.arena.size() + length > UINT32_MAX)
                throw VelError(QStringLiteral("Text of field \"%1\" exceeds the record set's capacity").arg(c.name));
            ref.offset = uint32_t(c.arena.size());
            c.arena.append(chars, length);
            slot = ref;
        }
    }
    c.texts[size_t(row)] = ref;
    setNullBit(c, row, false);
}

void Recordset::SetDateTime(qint64 row, int field, const QDateTime &value)
{
    checkCell(row, field);
    Column &c = column(field);
    if (c.type != FieldType::DateTime) {
        SetValue(row, field, QVariant(value));
        return;
    }
    if (!value.isValid()) {
        setNullBit(c, row, true);
        return;
    }
    c.ints[size_t(row)] = wallClockMsecs(value);
    setNullBit(c, row, false);
}

void Recordset::SetValue(qint64 row, int field, const QVariant &value)
{
    checkCell(row, field);
    Column &c = column(field);
    if (!value.isValid() || value.isNull()) {
        setNullBit(c, row, true);
        return;
    }
    bool ok = true;
    switch (c.type) {
    case FieldType::Integer: {
        const qint64 v = value.toLongLong(&ok);
        if (ok) c.ints[size_t(row)] = v;
        break;
    }
    case FieldType::Double: {
        const double v = value.toDouble(&ok);
        if (ok) c.doubles[size_t(row)] = v;
        break;
    }
    case FieldType::Boolean:
        c.bools[size_t(row)] = value.toBool();
        break;
    case FieldType::DateTime: {
        QDateTime dt = value.toDateTime();
        ok = dt.isValid();
        if (ok) c.ints[size_t(row)] = wallClockMsecs(dt);
        break;
    }
    case FieldType::Text:
        SetText(row, field, value.toString());
        return;
    }
    if (!ok)
        throw VelError(QStringLiteral("Value \"%1\" does not fit field \"%2\"").arg(value.toString(), c.name));
    setNullBit(c, row, false);
}

bool Recordset::IsNull(qint64 row, int field) const
{
    checkCell(row, field);
    const Column &c = column(field);
    return (c.nulls[size_t(row / 64)] >> (row % 64)) & 1;
}

QVariant Recordset::Value(qint64 row, int field) const
{
    if (IsNull(row, field))
        return QVariant();
    const Column &c = column(field);
    switch (c.type) {
    case FieldType::Integer: return QVariant(qlonglong(c.ints[size_t(row)]));
    case FieldType::Double: return QVariant(c.doubles[size_t(row)]);
    case FieldType::Boolean: return QVariant(bool(c.bools[size_t(row)]));
    case FieldType::DateTime: return QVariant(fromWallClockMsecs(c.ints[size_t(row)]));
    case FieldType::Text: return QVariant(TextAt(row, field));
    }
    return QVariant();
}

QVariant Recordset::Value(qint64 row, const QString &field) const
{
    const int f = FieldIndex(field);
    if (f < 0)
        throw VelError(QStringLiteral("No field named \"%1\"").arg(field));
    return Value(row, f);
}

qint64 Recordset::IntAt(qint64 row, int field) const
{
    checkCell(row, field);
    const Column &c = column(field);
    switch (c.type) {
    case FieldType::Integer: return c.ints[size_t(row)];
    case FieldType::Double: return qint64(c.doubles[size_t(row)]);
    case FieldType::Boolean: return c.bools[size_t(row)];
    default: return Value(row, field).toLongLong();
    }
}

double Recordset::DoubleAt(qint64 row, int field) const
{
    checkCell(row, field);
    const Column &c = column(field);
    switch (c.type) {
    case FieldType::Double: return c.doubles[size_t(row)];
    case FieldType::Integer: return double(c.ints[size_t(row)]);
    default: return Value(row, field).toDouble();
    }
}

QString Recordset::TextAt(qint64 row, int field) const
{
    checkCell(row, field);
    const Column &c = column(field);
    if (c.type != FieldType::Text)
        return Value(row, field).toString();
    const TextRef ref = c.texts[size_t(row)];
    return QString(reinterpret_cast<const QChar *>(c.arena.data() + ref.offset), qsizetype(ref.length));
}

QVariant Recordset::Fields(int field) const
{
    if (Eof())
        throw VelError(QStringLiteral("Either BOF or EOF is true: there is no current record"));
    return Value(m_pos, field);
}

QVariant Recordset::Fields(const QString &field) const
{
    if (Eof())
        throw VelError(QStringLiteral("Either BOF or EOF is true: there is no current record"));
    return Value(m_pos, field);
}

size_t Recordset::MemoryBytes() const
{
    size_t bytes = 0;
    for (const Column &c : m_columns) {
        bytes += c.ints.capacity() * sizeof(int64_t) + c.doubles.capacity() * sizeof(double)
            + c.bools.capacity() + c.texts.capacity() * sizeof(TextRef)
            + c.arena.capacity() * sizeof(char16_t) + c.recent.capacity() * sizeof(TextRef)
            + c.nulls.capacity() * sizeof(uint64_t);
    }
    return bytes;
}
