#pragma once

#include "ColumnLayout.h"
#include "Types.h"
#include "ValueFormat.h"

#include <QList>
#include <QVariant>

// Summary rows as the record set's "FRowKind" marks them.
enum class RowKind { Detail = 0, Subtotal = 1, Total = 2 };

// A column layout bound to a record set: the cells of the report, read on demand.
// Columns whose field the record set lacks show empty cells.
class ReportGrid
{
public:
    ReportGrid() = default;
    ReportGrid(ColumnLayout layout, RecordsetPtr rs);

    const ColumnLayout &Layout() const { return m_layout; }
    const RecordsetPtr &Records() const { return m_rs; }
    qint64 RowCount() const;
    int ColumnCount() const { return m_layout.Count(); }

    RowKind KindOf(qint64 row) const;
    QVariant Value(qint64 row, int column) const;
    QString Text(qint64 row, int column, FormatStyle style) const;
    // Numbers of numeric columns (also in text columns holding numbers) align right.
    bool AlignRight(qint64 row, int column) const;
    // The record-set field shown in the column, -1 when it is missing.
    int FieldOf(int column) const { return m_fields.value(column, -1); }

private:
    ColumnLayout m_layout;
    RecordsetPtr m_rs;
    QList<int> m_fields;
    int m_rowKindField = -1;
};
