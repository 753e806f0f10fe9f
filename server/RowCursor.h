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
};
