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
    // Without a copy: valid while the record set is unchanged; empty for other field types.
    QStringView TextViewAt(qint64 row, int field) const;
    // A DateTime field as stored: milliseconds of the wall-clock time read as UTC.
    qint64 WallClockMsecsAt(qint64 row, int field) const;

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
    // Cells live in fixed blocks of rows, so growing never copies what is stored; only the
    // first block grows geometrically, to keep small record sets small.
    static constexpr int blockShift = 16;
    static constexpr size_t blockRows = size_t(1) << blockShift;
    template <typename T>
    struct Blocks {
        std::vector<std::vector<T>> blocks;
        T &at(size_t i, int shift) { return blocks[i >> shift][i & ((size_t(1) << shift) - 1)]; }
        const T &at(size_t i, int shift) const { return blocks[i >> shift][i & ((size_t(1) << shift) - 1)]; }
        void growTo(size_t n, int shift, T fill);
        size_t bytes() const;
    };
    // Text lives in chunks of the arena; a value never spans two chunks. A value longer than a
    // chunk is kept on its own and its offset indexes `longTexts`.
    static constexpr int chunkShift = 20;
    static constexpr size_t chunkChars = size_t(1) << chunkShift;
    struct TextRef { uint32_t offset; uint32_t length; };
    struct RecentText { TextRef ref; uint32_t hash; };
    struct Column {
        QString name;
        FieldType type;
        Blocks<int64_t> ints;           // Integer, DateTime (msecs of the wall-clock time)
        Blocks<double> doubles;         // Double
        Blocks<uint8_t> bools;          // Boolean
        Blocks<TextRef> texts;          // Text
        std::vector<std::u16string> arena;      // Text
        std::vector<std::u16string> longTexts;  // Text longer than a chunk
        std::vector<RecentText> recent; // Text: recently stored values by hash, shared when repeated
        TextRef last{0, UINT32_MAX};    // Text: the value stored last
        Blocks<uint64_t> nulls;         // one bit per row, set when null
    };

    Column &cell(qint64 row, int field);
    const Column &cell(qint64 row, int field) const;
    Column &column(int field);
    const Column &column(int field) const;
    void growRows(size_t rows);
    static void setNullBit(Column &c, qint64 row, bool isNull);
    static bool nullBit(const Column &c, qint64 row);
    static const char16_t *textData(const Column &c, TextRef ref);
    static TextRef storeText(Column &c, const char16_t *chars, size_t length);

    std::vector<Column> m_columns;
    QHash<QString, int> m_index;   // lower-cased name -> field
    qint64 m_rows = 0;
    size_t m_capacity = 0;   // rows every column has room for
    qint64 m_pos = 0;
    bool m_open = false;
};
