#pragma once

#include "ReportOutput.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>

// Text and file outputs of a report. Text outputs show the visible columns only.
namespace Present {

// Title block, two-row header, rows; Chinese aligned by display width, summary rows set
// apart by rules, amounts right-aligned with two decimals.
QString WriteTable(const ReportOutput &report);

struct CsvOptions
{
    bool byteOrderMark = false;   // spreadsheet programs need it to read UTF-8
};
// One header line of captions (a grouped column as "group-second"), then the rows;
// numbers without thousands separators; CRLF line ends; UTF-8.
QByteArray WriteCsv(const ReportOutput &report, const CsvOptions &options = {});

// One object with "Result", "Property", "Title", "Header", "Filter", "Fields" and "Rows".
QByteArray WriteJson(const ReportOutput &report);
// A host value as JSON: dictionaries as objects, vectors as arrays, empty as null, dates as
// "yyyy-MM-dd HH:mm:ss" (or "yyyy-MM-dd" at midnight).
QJsonValue ToJson(const QVariant &value);

// An XLSX workbook: title block on top, the two-row header merged as in the grid, numbers as
// numbers. Throws VelError when the file cannot be written.
void WriteXlsx(const ReportOutput &report, const QString &path);

} // namespace Present
