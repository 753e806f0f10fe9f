#pragma once

#include <QString>

namespace Present {

// The XLSX library writes every number with 16 significant digits, so 691.07 reaches the sheet
// as "691.0700000000001" (the same double, not the text a reader of the file expects). Copies
// the workbook `from` to `to` with each number of its sheets in the shortest text that reads
// back as the same double. Throws VelError naming `shownPath`; a full disk reads "磁盘空间不足".
void ShortenSheetNumbers(const QString &from, const QString &to, const QString &shownPath);

} // namespace Present
