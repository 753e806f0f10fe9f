#include "GridCopy.h"

#include "ReportTableModel.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>

#include <set>

namespace GridCopy {

namespace {

// Tabs and line breaks inside a value would split the cell.
QString cellText(QString text)
{
    for (QChar &c : text)
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
    return text;
}

} // namespace

QString SelectionAsTsv(const QTableView &table)
{
    const QAbstractItemModel *model = table.model();
    const QItemSelectionModel *selection = table.selectionModel();
    if (!model || !selection || !selection->hasSelection())
        return {};
    std::set<int> rows;
    std::set<int> selectedColumns;
    for (const QItemSelectionRange &range : selection->selection()) {
        for (int r = range.top(); r <= range.bottom(); ++r)
            rows.insert(r);
        for (int c = range.left(); c <= range.right(); ++c)
            selectedColumns.insert(c);
    }
    const QHeaderView *header = table.horizontalHeader();
    QList<int> columns;
    for (int visual = 0; visual < header->count(); ++visual) {
        const int logical = header->logicalIndex(visual);
        if (!table.isColumnHidden(logical) && selectedColumns.count(logical))
            columns << logical;
    }
    QString out;
    QStringList line;
    for (int c : columns)
        line << cellText(model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString());
    out += line.join(QLatin1Char('\t')) + QLatin1Char('\n');
    for (int r : rows) {
        line.clear();
        for (int c : columns)
            line << cellText(model->index(r, c).data(ReportTableModel::PlainTextRole).toString());
        out += line.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return out;
}

} // namespace GridCopy
