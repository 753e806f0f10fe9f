#pragma once

#include "Types.h"
#include "WorkerProtocol.h"

#include <QByteArray>
#include <QDate>
#include <QJsonArray>
#include <QStringList>

// A filter sent to the service: the JSON object of the report's keys plus an optional
// "period" in the command line's --period forms, checked and converted exactly as the command
// line checks --filter-json and --period.
namespace ServiceFilter {

// Largest request body the service reads.
inline constexpr int MaxBody = WorkerProtocol::MaxBody;

struct Prepared
{
    DictionaryPtr filter;
    QStringList errors;   // one sentence per problem; the filter is unusable when not empty
    // The problems typed for a page to word them beside its fields: {"kind", "key", "end"}, kinds
    // as FilterCheck::KindText and "period" (the period is not read or not taken by the report).
    QJsonArray problems;
};
// The body passes WorkerProtocol::BodyProblem first, and no text value in it may hold a
// control character.
Prepared FromJson(qint32 rptId, const QByteArray &body, const QDate &today);

// The branch keys a branch's filter dialog fixes to the branch's own number (hidden there).
QStringList BranchKeys(qint32 rptId);
// For a user bound to `branch`: the sentence refusing a filter that sets a fixed branch key to
// anything but empty or the branch's own number; empty when the filter keeps to the branch.
QString RefusedAtBranch(qint32 rptId, const Dictionary &filter, const QString &branch);

// The period part of a report file's name: "2024-05", "2024-05-01至2024-05-07".
QString PeriodName(const Dictionary &filter);
// The content type of an answer in a format: json, csv, xlsx or pdf.
QString ContentType(const QString &format);

} // namespace ServiceFilter
