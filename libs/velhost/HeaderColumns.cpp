#include "HeaderColumns.h"

#include "Dictionary.h"
#include "Vector.h"

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

QString HeaderColumn::FlatCaption() const
{
    if (!IsGrouped() || subCaption.isEmpty())
        return topCaption;
    if (topCaption.isEmpty())
        return subCaption;
    return topCaption + QLatin1Char('-') + subCaption;
}

QList<HeaderColumn> ReadHeaderColumns(const VectorPtr &header)
{
    QList<HeaderColumn> columns;
    if (!header)
        return columns;
    int groupStart = -1;
    int groupLeft = 0;     // further members the open group still takes
    QString groupCaption;
    for (int i = 0; i < header->Count(); ++i) {
        const DictionaryPtr entry = header->DictionaryAt(i);
        if (!entry)
            continue;
        HeaderColumn col;
        col.field = entry->Value(QStringLiteral("FColName")).toString();
        col.colType = entry->Value(QStringLiteral("FColType")).toString();
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
    return columns;
}
