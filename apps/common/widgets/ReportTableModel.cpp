#include "ReportTableModel.h"

#include "Recordset.h"

#include <QBrush>
#include <QColor>
#include <QFont>

#include <algorithm>
#include <numeric>

namespace {

const QColor kSubtotalTint(0xFF, 0xF4, 0xD6);
const QColor kTotalTint(0xFC, 0xE3, 0xB0);

} // namespace

ReportTableModel::ReportTableModel(QObject *parent) : QAbstractTableModel(parent) {}

void ReportTableModel::SetReport(const ReportOutput &report)
{
    beginResetModel();
    m_report = report;
    m_report.rowOrder = nullptr;
    m_order = nullptr;
    m_grid = ReportGrid(m_report, false);
    m_summaryRows.clear();
    const int rows = rowCount();
    for (int r = 0; r < rows; ++r)
        if (m_grid.KindOf(r) != RowKind::Detail)
            m_summaryRows << r;
    m_detailRows = rows - m_summaryRows.size();
    endResetModel();
}

int ReportTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(qMin<qint64>(m_grid.RowCount(), INT_MAX));
}

int ReportTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_grid.ColumnCount();
}

QVariant ReportTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    const qint64 row = index.row();
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return m_grid.Text(row, column, FormatStyle::Grid);
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::AlignVCenter
            | (m_grid.AlignRight(row, column) ? Qt::AlignRight : Qt::AlignLeft));
    case Qt::FontRole:
        if (m_grid.KindOf(row) != RowKind::Detail) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    case Qt::BackgroundRole:
        switch (m_grid.KindOf(row)) {
        case RowKind::Subtotal: return QBrush(kSubtotalTint);
        case RowKind::Total: return QBrush(kTotalTint);
        case RowKind::Detail: return {};
        }
        return {};
    case RowKindRole:
        return int(m_grid.KindOf(row));
    case RawValueRole:
        return m_grid.Value(row, column);
    case PlainTextRole:
        return m_grid.Text(row, column, FormatStyle::Plain);
    default:
        return {};
    }
}

QVariant ReportTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    if (section < 0 || section >= m_grid.ColumnCount())
        return {};
    return m_grid.Layout().Columns().at(section).FlatCaption();
}

void ReportTableModel::sort(int column, Qt::SortOrder order)
{
    const RecordsetPtr &rs = m_grid.Records();
    if (!m_report.SortEnabled() || !rs || column < 0 || column >= m_grid.ColumnCount())
        return;
    const int field = m_grid.FieldOf(column);
    if (field < 0)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QList<qint64> sourceRows;
    for (const QModelIndex &i : before)
        sourceRows << m_grid.SourceRow(i.row());

    const auto rows = m_grid.SortedOrder(column, order == Qt::DescendingOrder);
    std::vector<qint64> position(rows->size());
    for (size_t i = 0; i < rows->size(); ++i)
        position[size_t((*rows)[i])] = qint64(i);
    m_order = rows;
    m_report.rowOrder = m_order;
    m_grid.SetRowOrder(m_order);

    QModelIndexList after;
    for (int i = 0; i < before.size(); ++i)
        after << index(int(position[size_t(sourceRows.at(i))]), before.at(i).column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
