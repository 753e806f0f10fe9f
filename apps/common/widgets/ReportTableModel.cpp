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

// Sort keys of one column, read once: numbers as doubles, everything else as text.
struct SortKeys
{
    std::vector<double> numbers;
    std::vector<QString> texts;
    std::vector<uint8_t> nulls;

    SortKeys(const Recordset &rs, int field)
    {
        const qint64 n = rs.RecordCount();
        nulls.resize(size_t(n));
        const auto type = rs.FieldTypeOf(field);
        const bool numeric = type == Recordset::FieldType::Integer || type == Recordset::FieldType::Double
            || type == Recordset::FieldType::DateTime || type == Recordset::FieldType::Boolean;
        if (numeric)
            numbers.resize(size_t(n));
        else
            texts.resize(size_t(n));
        for (qint64 r = 0; r < n; ++r) {
            nulls[size_t(r)] = rs.IsNull(r, field);
            if (nulls[size_t(r)])
                continue;
            if (!numeric)
                texts[size_t(r)] = rs.TextAt(r, field);
            else if (type == Recordset::FieldType::DateTime)
                numbers[size_t(r)] = double(rs.Value(r, field).toDateTime().toMSecsSinceEpoch());
            else
                numbers[size_t(r)] = rs.DoubleAt(r, field);
        }
    }

    // Empty cells first.
    bool Less(qint64 a, qint64 b) const
    {
        if (nulls[size_t(a)] || nulls[size_t(b)])
            return nulls[size_t(a)] && !nulls[size_t(b)];
        if (!numbers.empty())
            return numbers[size_t(a)] < numbers[size_t(b)];
        return texts[size_t(a)] < texts[size_t(b)];
    }
};

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

    const SortKeys keys(*rs, field);
    const ReportGrid natural(m_grid.Layout(), rs);
    auto rows = std::make_shared<std::vector<qint64>>(size_t(rs->RecordCount()));
    std::iota(rows->begin(), rows->end(), 0);
    auto blockStart = rows->begin();
    for (auto it = rows->begin();; ++it) {
        const bool end = it == rows->end();
        if (end || natural.KindOf(*it) != RowKind::Detail) {
            if (order == Qt::AscendingOrder)
                std::stable_sort(blockStart, it, [&keys](qint64 a, qint64 b) { return keys.Less(a, b); });
            else
                std::stable_sort(blockStart, it, [&keys](qint64 a, qint64 b) { return keys.Less(b, a); });
            if (end)
                break;
            blockStart = it + 1;
        }
    }

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
