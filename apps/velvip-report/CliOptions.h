#pragma once

#include "BranchScope.h"
#include "Types.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

// The "run" subcommand's options, checked and converted.
struct RunOptions
{
    enum class Format { Table, Csv, Json, Xlsx, Pdf };

    qint32 rptId = 0;
    QString props;          // connection text, empty for the embedded demo chain
    DictionaryPtr filter;   // --filter-json, then --set on top
    QVariantMap context;
    BranchScope scope = BranchScope::HeadOffice();   // --branch-scope
    Format format = Format::Table;
    QString outPath;        // empty: standard output
    bool byteOrderMark = false;   // --bom: CSV starts with a UTF-8 BOM
    bool dialog = false;
};

struct ParsedCommandLine
{
    enum class Outcome { Run, Help, UsageError };

    Outcome outcome = Outcome::UsageError;
    RunOptions options;
    QString text;           // help text or the usage error
    QString hint;           // what to read next, after a usage error
};

// `args` are the arguments after "run".
ParsedCommandLine ParseRunArguments(const QStringList &args);
// The help of the whole program, wrapped to `width` columns.
QString ProgramHelp(int width);
// The days the embedded demo chain holds data for, "2024-01-01 至 …".
QString DemoPeriodText();

