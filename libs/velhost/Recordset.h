#pragma once

#include "velhost_export.h"

#include "Types.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <functional>
#include <string>
#include <memory>
#include <vector>

// Rows with named, typed fields, stored by column: numbers in typed arrays, text in one
// arena per column, so that a cell costs no heap allocation of its own.
class VELHOST_EXPORT Recordset
{
public:
    enum class FieldType { Integer, Double, Text, DateTime, Boolean };

    Recordset();
    ~Recordset();
    Recordset(const Recordset &) = delete;
    Recordset &operator=(const Recordset &) = delete;
    static RecordsetPtr Create() { return std::make_shared<Recordset>(); }

    // Fields are defined while the record set is closed and has no rows.
    int AddField(const QString &name, FieldType type);
    void Open();                 // State becomes 1
    void Close();                // State becomes 0; rows and fields are released
    int State() const;

    int FieldCount() const;
    QString FieldName(int field) const;
    FieldType FieldTypeOf(int field) const;
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

    // Told every `every` rows while rows are appended, just before the next row is added: the
    // rows so far, all complete.
    void WatchRows(std::function<void(qint64 complete)> watch, qint64 every);

    // While a scope lives, the record set a report run fills on this thread is handed to its watch
    // as rows arrive (the data component attaches its rows), so that a host writes them at once.
    // The watch may throw to stop the run.
    using RunWatch = std::function<void(const RecordsetPtr &rows, qint64 complete)>;
    class VELHOST_EXPORT WatchScope
    {
    public:
        explicit WatchScope(RunWatch watch);
        ~WatchScope();
        WatchScope(const WatchScope &) = delete;
        WatchScope &operator=(const WatchScope &) = delete;

    private:
        RunWatch m_watch;
        const RunWatch *m_previous;
    };
    // The watch of this thread's innermost scope, or nullptr.
    static const RunWatch *ThreadWatch();

    // Direct access.
    qint64 RecordCount() const;
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
    // One cell in one call, for writers that read every cell. `number` holds Integer, Boolean
    // and DateTime (as WallClockMsecsAt) values, `real` Double ones, `text` Text ones (a view
    // as TextViewAt's, empty for an empty text).
    struct Cell
    {
        bool null = true;
        qint64 number = 0;
        double real = 0;
        QStringView text;
    };
    Cell CellAt(qint64 row, int field) const;

    // Cursor.
    bool Eof() const;
    bool Bof() const;
    void MoveFirst();
    void MoveNext();
    void MoveLast();
    qint64 AbsolutePosition() const;
    QVariant Fields(int field) const;
    QVariant Fields(const QString &field) const;

    // Rows before `row` are not read again (a host has written them): their storage is reused
    // for the rows that follow. RecordCount stays; reading such a row throws.
    void ReleaseRows(qint64 row);

    // Bytes held by rows and arenas (capacity), for memory accounting.
    size_t MemoryBytes() const;

private:
    // The storage, kept out of this header so that it can change without a new SONAME.
    struct Data;
    std::unique_ptr<Data> d;
};
