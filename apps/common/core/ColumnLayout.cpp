#include "ColumnLayout.h"

#include "Dictionary.h"
#include "Vector.h"

#include <QHash>

namespace {

const QString kDollar = QStringLiteral("$");
const QString kGroupMark = QStringLiteral("+|");

// Strips the trailing "+|" marks and returns how many there were.
int stripGroupMarks(QString &caption)
{
    int marks = 0;
    while (caption.endsWith(kGroupMark)) {
        caption.chop(kGroupMark.size());
        ++marks;
    }
    return marks;
}

bool isVisible(const QVariant &v)
{
    // Absent means shown; "FVisible" is 1 or 0, booleans are accepted too.
    if (!v.isValid())
        return true;
    return v.toInt() != 0 || v.toBool();
}

} // namespace

QString ReportColumn::FlatCaption() const
{
    if (!IsGrouped() || subCaption.isEmpty())
        return topCaption;
    if (topCaption.isEmpty())
        return subCaption;
    return topCaption + QLatin1Char('-') + subCaption;
}

ColumnLayout ColumnLayout::FromHeader(const VectorPtr &header)
{
    QList<ReportColumn> columns;
    if (!header)
        return ColumnLayout();
    int groupStart = -1;
    int groupLeft = 0;     // further members the open group still takes
    QString groupCaption;
    for (int i = 0; i < header->Count(); ++i) {
        const DictionaryPtr entry = header->DictionaryAt(i);
        if (!entry)
            continue;
        ReportColumn col;
        col.field = entry->Value(QStringLiteral("FColName")).toString();
        col.kind = ColumnKindFromType(entry->Value(QStringLiteral("FColType")).toString());
        col.visible = isVisible(entry->Value(QStringLiteral("FVisible")));
        QString caption = entry->Value(QStringLiteral("FColCaption")).toString();
        const QString second = entry->Value(QStringLiteral("FHeadSecond")).toString();
        const int pos = int(columns.size());

        if (caption.isEmpty() && groupLeft > 0) {
            col.group = groupStart;
            col.topCaption = groupCaption;
            col.subCaption = second;
            --groupLeft;
        } else if (caption.endsWith(kDollar)) {
            caption.chop(kDollar.size());
            col.topCaption = caption;
            groupLeft = 0;
        } else {
            const int marks = stripGroupMarks(caption);
            if (marks > 0 || !second.isEmpty()) {
                // A group (or a lone column that still has a second-row caption).
                groupStart = pos;
                groupLeft = marks;
                groupCaption = caption;
                col.group = pos;
                col.topCaption = caption;
                col.subCaption = second;
            } else {
                col.topCaption = caption;
                groupLeft = 0;
            }
        }
        columns.append(col);
    }
    return ColumnLayout(columns);
}

ColumnLayout ColumnLayout::VisibleOnly() const
{
    QList<ReportColumn> visible;
    QHash<int, int> newGroupStart;   // old group start -> new position of its first visible member
    for (int i = 0; i < m_columns.size(); ++i) {
        ReportColumn col = m_columns.at(i);
        if (!col.visible)
            continue;
        if (col.IsGrouped()) {
            auto it = newGroupStart.find(col.group);
            if (it == newGroupStart.end())
                it = newGroupStart.insert(col.group, int(visible.size()));
            col.group = *it;
        }
        visible.append(col);
    }
    return ColumnLayout(visible);
}

int ColumnLayout::HeaderRows() const
{
    for (const ReportColumn &c : m_columns)
        if (c.IsGrouped())
            return 2;
    return 1;
}

std::pair<int, int> ColumnLayout::GroupRange(int c) const
{
    const ReportColumn &col = m_columns.at(c);
    if (!col.IsGrouped())
        return {c, c};
    int first = c;
    while (first > 0 && m_columns.at(first - 1).group == col.group)
        --first;
    int last = c;
    while (last + 1 < m_columns.size() && m_columns.at(last + 1).group == col.group)
        ++last;
    return {first, last};
}

QList<HeaderCell> ColumnLayout::Cells() const
{
    const int rows = HeaderRows();
    QList<HeaderCell> top, bottom;
    for (int c = 0; c < m_columns.size();) {
        const ReportColumn &col = m_columns.at(c);
        if (!col.IsGrouped()) {
            top.append({0, c, rows, 1, col.topCaption});
            ++c;
            continue;
        }
        const auto [first, last] = GroupRange(c);
        top.append({0, first, 1, last - first + 1, col.topCaption});
        for (int m = first; m <= last; ++m)
            bottom.append({1, m, 1, 1, m_columns.at(m).subCaption});
        c = last + 1;
    }
    return top + bottom;
}
