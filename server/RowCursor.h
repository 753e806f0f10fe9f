#pragma once

#include <QString>
#include <QStringView>

// One pass over the rows of a SELECT. Column values are read by position; a text view stays
// valid until the next call on the cursor.
class RowCursor
{
public:
    virtual ~RowCursor() = default;
    virtual bool Next() = 0;
    virtual bool IsNull(int column) const = 0;
    virtual qint64 Int(int column) const = 0;
    virtual double Double(int column) const = 0;
    virtual QStringView Text(int column) const = 0;
    // The text of a column in one call: a null view for NULL, never a null view otherwise.
    virtual QStringView TextOrNull(int column) const
    {
        if (IsNull(column))
            return {};
        const QStringView text = Text(column);
        return text.isNull() ? QStringView(u"") : text;
    }
};
