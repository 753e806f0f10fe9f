#pragma once

#include "velhost_export.h"

#include "Types.h"

#include <QList>
#include <QString>

// One column of a report's header (Application's "Header") as a host shows it. Captions come
// with marks: "$" ends a single-row caption; a caption ending in "+|" repeated n − 1 times
// opens a group of n columns whose shared caption spans the first header row, each member
// showing its "FHeadSecond" in the second.
struct VELHOST_EXPORT HeaderColumn
{
    QString field;        // "FColName"
    QString colType;      // "FColType"
    bool visible = true;  // "FVisible"
    QString topCaption;   // first-row caption without the marks
    QString subCaption;   // second-row caption of a grouped column
    int group = -1;       // index of the first column of its group, -1 for a single-row column

    bool IsGrouped() const { return group >= 0; }
    // The caption that names the column alone (CSV, menus): "期初-储值卡金额" for a grouped one.
    QString FlatCaption() const;
};

// The header's column entries, in display order, with their captions read.
VELHOST_EXPORT QList<HeaderColumn> ReadHeaderColumns(const VectorPtr &header);
