#pragma once

#include <QString>

class QTableView;

namespace GridCopy {

// The selected cells as tab-separated text for a spreadsheet: a header line of the shown
// column captions, then one line per selected row in the order shown; numbers without
// thousands separators so that they paste as numbers.
QString SelectionAsTsv(const QTableView &table);

} // namespace GridCopy
