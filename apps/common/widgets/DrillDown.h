#pragma once

#include "ReportOutput.h"

#include <optional>

// Where a double click on a report row leads: a detail report over the same period, run
// through Application like any other report. Which report leads where is in ReportRules.
// 10903's filter has card and branch ranges but neither card type nor salesperson, so the
// subtotals of those groupings lead nowhere and say why (Target::note). Grand totals lead
// nowhere.
namespace DrillDown {

struct Target
{
    qint32 rptId = 0;   // 0: the row leads nowhere; note says why
    DictionaryPtr filter;
    // What the detail is filtered to, for its tab: "会员卡 V0001".
    QString label;
    // A branch named by the row; its number goes into the branch range (SetBranch) first.
    QString branchName;
    QString note;
};

// The target of the record-set row, if it has one.
std::optional<Target> ForRow(const ReportOutput &report, qint64 sourceRow);

// Narrows the target to one branch by its number.
void SetBranch(Target &target, const QString &branchNumber);

// What a row's tooltip says about double-clicking it; empty when the row leads nowhere.
QString Hint(const std::optional<Target> &target);

} // namespace DrillDown
