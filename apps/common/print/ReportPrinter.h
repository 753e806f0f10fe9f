#pragma once

#include "ReportOutput.h"

#include <QImage>
#include <QString>

#include <functional>

class QPrinter;

namespace Present {

// Told once before the first page (done = 0) and after every page: pages done, pages in all.
// Returning false stops the printing.
using PageProgress = std::function<bool(int done, int total)>;

// Paints the report's shown columns onto the printer's pages: on every page the title block,
// the two-row header and as many rows as fit, a group's last line kept with its subtotal
// (a short group whole). Columns are as wide as their widest caption,
// sampled detail value and summary value; a report wider than the page is scaled down to a
// readable size and then split into bands of columns, each band repeating the frozen columns.
// A chart image, when given, follows the rows on a page of its own.
// Returns the number of pages, or -1 when `progress` stopped it.
int PrintReport(const ReportOutput &report, QPrinter *printer, const PageProgress &progress = {},
                const QImage &chart = {});
// The pages PrintReport would print.
int PageCount(const ReportOutput &report, QPrinter *printer);

// The printer set up as the PDF export uses it: landscape A4.
void SetUpPdfPrinter(QPrinter *printer, const QString &path, const QString &title);
// The pages of the PDF export.
int PdfPageCount(const ReportOutput &report);
// A PDF file of the report, written beside the target and renamed onto it when complete.
// Throws VelError when it cannot be written, and Vel::Cancelled() when `progress` stopped it;
// either way no partial file is left.
void WritePdf(const ReportOutput &report, const QString &path, const PageProgress &progress = {},
              const QImage &chart = {});

} // namespace Present
