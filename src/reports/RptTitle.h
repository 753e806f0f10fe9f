#pragma once

#include "Types.h"

// The title block of a report: one caption line per filter range that the filter holds, in a
// fixed order, plus the summary basis. Each line is a new Dictionary with "FCaption" (text) and
// "FIndex" (qint16, its position from 0). The builder also stores "ShowInPreview" = qint16(1) in
// `property`, creating that dictionary when it is none.
//
// The builder reports no error: every step is guarded on its own, so a value that cannot be read
// costs at most that step and a partial title is returned. `filter` is only read; none stands for
// an item range and a warehouse range that are both open.
VectorPtr BuildRptTitle(DictionaryPtr filter, DictionaryPtr &property);
