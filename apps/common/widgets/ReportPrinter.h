#pragma once

#include "ReportOutput.h"

#include <QString>

class QPrinter;

namespace Present {

// Paints the report's shown columns onto the printer's pages: on every page the title block,
// the two-row header and as many rows as fit; columns are scaled to the page width.
// Returns the number of pages.
int PrintReport(const ReportOutput &report, QPrinter *printer);
// A PDF file of the report, landscape A4. Throws VelError when it cannot be written.
void WritePdf(const ReportOutput &report, const QString &path);

} // namespace Present
