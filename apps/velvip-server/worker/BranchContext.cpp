#include "BranchContext.h"

#include "ReportSession.h"

QVariantMap BranchContext(const QString &branch, bool sharedCards)
{
    QVariantMap context = ReportSession::DefaultContext();
    if (branch.isEmpty())
        return context;
    context[QStringLiteral("ISBranch")] = true;
    context[QStringLiteral("SVCardShareType")] = sharedCards;
    context[QStringLiteral("BranchNum")] = branch;
    return context;
}
