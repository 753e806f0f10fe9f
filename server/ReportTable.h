#pragma once

#include "Recordset.h"

#include <QString>

#include <vector>

class RowCursor;

// The record set a report hands out: typed fields plus "FRowKind", exact sums kept as
// integers for subtotal and total rows.
class ReportTable
{
public:
    // How a field is read from the query and handed out.
    enum class Kind {
        Text,          // text as it is
        Date,          // date-time text from SQL, handed out as a date value
        DateTimeText,  // date-time text "yyyy-MM-dd HH:mm:ss"
        Money,         // integer hundredths -> double with 2 decimals (money, points, prices)
        Qty,           // integer thousandths -> double with 3 decimals
        Count,         // integer
    };
    enum RowKind { Detail = 0, Subtotal = 1, Total = 2 };

    struct Column {
        QString name;
        Kind kind;
        bool summed = false;   // summary rows hold its sum
        int source = -1;       // query column copied by CopyDetail; -1 none
    };

    // Rows between two calls of the thread's watch (Recordset::WatchScope), if one is set.
    static constexpr qint64 kWatchRows = 4096;

    explicit ReportTable(std::vector<Column> columns);

    int Field(const QString &name) const;

    // A detail row from the cursor's current row (columns with a source). Adds the summed
    // fields to the group and total sums; writes no row when `keep` is false.
    void CopyDetail(const RowCursor &cursor, bool keep);
    // Adds a value to a summed field's group and total sums (for rows built by hand).
    void Accumulate(int field, qint64 value);

    // Starts a row of the given kind; returns its index.
    qint64 AddRow(RowKind kind);
    void SetText(qint64 row, int field, QStringView text);
    void SetNumber(qint64 row, int field, qint64 value);   // scaled by the field's kind
    void SetDate(qint64 row, int field, QStringView sqlDateTime);

    // A subtotal row with the group's sums, then the group's sums restart.
    qint64 AddSubtotal();
    // The grand total row with the sums of every detail.
    qint64 AddTotal();
    bool GroupEmpty() const { return m_groupRows == 0; }

    RecordsetPtr Result() const { return m_rs; }

private:
    qint64 addSums(RowKind kind, std::vector<qint64> &sums);

    std::vector<Column> m_columns;
    RecordsetPtr m_rs;
    int m_rowKind;
    std::vector<qint64> m_group;
    std::vector<qint64> m_total;
    qint64 m_groupRows = 0;
};
