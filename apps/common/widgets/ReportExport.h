#pragma once

#include "ReportWriters.h"

#include <QString>

class QWidget;
class ReportView;

// A desktop export of what a report view shows, with a progress window and a 取消 button.
// A cancelled or failed export leaves no file; a PDF of more than kAskAbovePages pages is
// confirmed first.
namespace ReportExport {

enum class Kind { Csv, Xlsx, Pdf };
enum class Outcome { Written, Cancelled, Failed };

inline constexpr int kAskAbovePages = 300;

// Shows errors in a message box; returns what happened.
Outcome Run(QWidget *parent, const ReportView &view, Kind kind, const QString &path,
            const Present::CsvOptions &csv = {});

} // namespace ReportExport
