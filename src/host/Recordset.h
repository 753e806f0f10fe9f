#pragma once

#include "Types.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <string>
#include <vector>

// Rows with named, typed fields, stored by column: numbers in typed arrays, text in one
// arena per column, so that a cell costs no heap allocation of its own.
class Recordset
{
public:
    enum class FieldType { Integer, Double, Text, DateTime, Boolean };

    static RecordsetPtr Create() { return std::make_shared<Recordset>(); }

    // Fields are defined while the record set is closed and has no rows.
    int AddField(const QString &name, FieldType type);
    void Open();                 // State becomes 1
    void Close();                // State becomes 0; rows and fields are released
    int State() const { return m_open ? 1 : 0; }

    int FieldCount() const { return int(m_columns.size()); }
    QString FieldName(int field) const { return m_columns.at(size_t(field)).name; }
    FieldType FieldTypeOf(int field) const { return m_columns.at(size_t(field)).type; }
    // Case-insensitive, -1 when there is no such field.
    int FieldIndex(const QString &name) const;
    QStringList FieldNames() const;

    // Filling. AddRow appends a row of empty (null) cells and moves the cursor onto it.
    qint64 AddRow();
    void Reserve(qint64 rows);
    void SetNull(qint64 row, int field);
    void SetInt(qint64 row, int field, qint64 value);
    void SetDouble(qint64 row, int field, double value);
    void SetBool(qint64 row, int field, bool value);
    void SetText(qint64 row, int field, QStringView text);
    void SetDateTime(qint64 row, int field, const QDateTime &value);
    // Converts the Variant to the field's type; an invalid Variant stores null.
    void SetValue(qint64 row, int field, const QVariant &value);

    // Direct access.
    qint64 RecordCount() const { return m_rows; }
    bool IsNull(qint64 row, int field) const;
    QVariant Value(qint64 row, int field) const;
    QVariant Value(qint64 row, const QString &field) const;
    qint64 IntAt(qint64 row, int field) const;
    double DoubleAt(qint64 row, int field) const;
    QString TextAt(qint64 row, int field) const;

    // Cursor.
    bool Eof() const { return !m_open || m_pos >= m_rows; }
    bool Bof() const { return !m_open || m_pos < 0 || m_rows == 0; }
    void MoveFirst() { m_pos = 0; }
    void MoveNext() { if (m_pos < m_rows) ++m_pos; }
    void MoveLast() { m_pos = m_rows > 0 ? m_rows - 1 : 0; }
    qint64 AbsolutePosition() const { return m_pos; }
    QVariant Fields(int field) const;
    QVariant Fields(const QString &field) const;

    // Bytes held by rows and arenas (capacity), for memory accounting.
    size_t MemoryBytes() const;

private:
    struct TextRef { uint32_t offset; uint32_t length; };
    struct Column {
        QString name;
        FieldType type;
        std::vector<int64_t> ints;      // Integer, DateTime (msecs of the wall-clock time)
        std::vector<double> doubles;    // Double
        std::vector<uint8_t> bools;     // Boolean
        std::vector<TextRef> texts;     // Text
        std::u16string arena;           // Text
        std::vector<TextRef> recent;    // Text: recently stored values by hash, shared when repeated
        std::vector<uint64_t> nulls;    // one bit per row, set when null
    };

    Column &column(int field);
    const Column &column(int field) const;
    void checkCell(qint64 row, int field) const;
    void setNullBit(Column &c, qint64 row, bool isNull);

    std::vector<Column> m_columns;
    QHash<QString, int> m_index;   // lower-cased name -> field
    qint64 m_rows = 0;
    qint64 m_pos = 0;
    bool m_open = false;
};
