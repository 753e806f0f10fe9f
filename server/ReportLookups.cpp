// The lookup lists of the filter dialogs and the report service.
#include "ReportQueries.h"

#include "Database.h"
#include "FilterValues.h"
#include "ReportTable.h"
#include "RowCursor.h"
#include "Schema.h"
#include "VelError.h"

namespace {

// What of a list a branch may see.
enum class BranchRule {
    ChainWide,      // the chain's catalogue: the same at every branch
    Itself,         // the branch's own row
    OwnRows,        // rows whose FBranchID is the branch
    BoughtThere,    // customers with a sale bill at the branch
    CardsThere,     // cards issued at the branch or with a movement there
};

struct LookupSource
{
    qint32 type;
    const char *from;       // the table aliased x2, plus a fixed condition of the list itself
    BranchRule rule;
};

const LookupSource lookupSources[] = {
    {1, "customer x2", BranchRule::BoughtThere},
    {4, "item x2", BranchRule::ChainWide},
    {5, "branch x2", BranchRule::Itself},
    {47, "pos x2", BranchRule::OwnRows},
    {49, "employee x2 WHERE x2.FIsCashier = 1", BranchRule::OwnRows},
    {50, "member_card x2", BranchRule::CardsThere},
    {51, "card_type x2", BranchRule::ChainWide},
    {713, "brand x2", BranchRule::ChainWide},
};

void addScope(const Database &db, SqlWhere &where, BranchRule rule, const BranchScope &scope)
{
    if (scope.IsHeadOffice())
        return;
    switch (rule) {
    case BranchRule::ChainWide:
        return;
    case BranchRule::Itself:
        return where.InScope(QStringLiteral("x2.FNumber"), scope);
    case BranchRule::OwnRows:
        return where.Add(QStringLiteral("x2.FBranchID IN (SELECT FID FROM branch WHERE FNumber = ?)"), {scope.Number()});
    case BranchRule::BoughtThere:
        return where.Add(QStringLiteral("x2.FID IN (SELECT lb.FCustomerID FROM sale_bill lb JOIN branch ls "
                                        "ON ls.FID = lb.FBranchID WHERE ls.FNumber = ?)"),
                         {scope.Number()});
    case BranchRule::CardsThere:
        return where.CardInScope(QStringLiteral("x2"), scope, Schema::HasLedger(db));
    }
}

// The fixed conditions the filter dialogs pass, matched after folding case and spaces, and
// the SQL our own code puts in their place. User text never reaches the SQL this way.
QString lookupCondition(qint32 type, const QString &condition)
{
    const QString folded = condition.simplified().toLower().remove(u' ');
    if (folded.isEmpty())
        return QString();
    if (type == 5 && folded == u"x2.fparentid=0")
        return QStringLiteral("x2.FParentID = 0");
    if (type == 5 && folded == u"x2.fparentid=0andx2.ftradetype<>1")
        return QStringLiteral("x2.FParentID = 0 AND x2.FTradeType <> 1");
    if (type == 50 && folded == u"fdeleted=0")
        return QStringLiteral("x2.FDeleted = 0");
    QString shown = condition.left(60);
    throw VelError(Vel::ErrorKind::BadFilter, QStringLiteral("查找列表 %1 不支持条件“%2”").arg(type).arg(shown.remove(QChar(0))));
}

} // namespace

namespace ReportQueries {

RecordsetPtr Lookup(const Database &db, qint32 lookupType, const QString &condition, const QString &searchText,
                    qint32 limit, const BranchScope &scope)
{
    const LookupSource *source = nullptr;
    for (const LookupSource &s : lookupSources) {
        if (s.type == lookupType)
            source = &s;
    }
    if (!source)
        throw VelError(QStringLiteral("没有类型为 %1 的查找列表").arg(lookupType));
    QString from = QString::fromLatin1(source->from);
    SqlWhere where(db.Driver());
    const int fixed = from.indexOf(QStringLiteral(" WHERE "));
    if (fixed >= 0) {
        where.Add(from.mid(fixed + 7));
        from.truncate(fixed);
    }
    const QString extra = lookupCondition(lookupType, condition);
    if (!extra.isEmpty())
        where.Add(extra);
    const QString text = searchText.trimmed();
    if (text.contains(QChar(0)) || text.size() > FilterValues::MaxTextLength)
        throw VelError(Vel::ErrorKind::BadFilter, QStringLiteral("查找文本太长或含有不能使用的空字符"));
    addScope(db, where, source->rule, scope);
    where.ContainsAny({QStringLiteral("x2.FNumber"), QStringLiteral("x2.FName")}, text);
    QVariantList params = where.Params();
    params << qBound(1, limit, 100000);
    auto cursor = db.Select(QStringLiteral("SELECT x2.FNumber, x2.FName FROM %1%2 ORDER BY x2.FNumber LIMIT ?")
                                .arg(from, where.Sql()),
                            params);
    ReportTable table({{QStringLiteral("FNumber"), ReportTable::Kind::Text, false, 0},
                       {QStringLiteral("FName"), ReportTable::Kind::Text, false, 1}});
    while (cursor->Next())
        table.CopyDetail(*cursor, true);
    return table.Result();
}

} // namespace ReportQueries
