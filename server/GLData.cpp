#include "GLData.h"

#include "ConnectionText.h"
#include "Database.h"
#include "Dictionary.h"
#include "FilterValues.h"
#include "ReportQueries.h"
#include "ReportTable.h"
#include "RowCursor.h"
#include "StandbyChooser.h"
#include "VelError.h"

namespace {

struct LookupSource
{
    qint32 type;
    const char *from;       // the table aliased x2, plus a fixed condition of the list itself
};

const LookupSource lookupSources[] = {
    {1, "customer x2"},
    {4, "item x2"},
    {5, "branch x2"},
    {47, "pos x2"},
    {49, "employee x2 WHERE x2.FIsCashier = 1"},
    {50, "member_card x2"},
    {51, "card_type x2"},
    {713, "brand x2"},
};

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

// Error texts are built from the parts of the connection text that may be shown, never by
// searching for the password inside them. A request a standby cancelled for its replay runs once
// more on a fresh session, and so does one whose standby went away.
template <class F>
auto guarded(const QString &propsString, F &&body)
{
    try {
        try {
            return body();
        } catch (const TransientError &) {
            Database::Release(propsString);
            return body();
        } catch (const VelError &e) {
            if (Vel::IsCancelled(e) || !StandbyChooser::Failed(propsString))
                throw;
            return body();
        }
    } catch (const VelError &e) {
        // A broken session (server restarted, file replaced) must not stay in the pool; one
        // whose read was cancelled is idle again.
        if (!Vel::IsCancelled(e))
            Database::Release(propsString);
        // The host reads the run's outcome as text; its kind is noted for it beside.
        Vel::NoteFailure(e.Kind());
        throw VelError(e.Description(), e.Number(), QStringLiteral("VelMVipRpt.GLData"), e.Kind());
    }
}

} // namespace

GLData::GLData(QObject *parent) : QObject(parent)
{
}

QVariant GLData::GetRptData(const QString &propsString, DictionaryPtr &filter)
{
    return guarded(propsString, [&] {
        if (!filter)
            throw VelError(QStringLiteral("没有过滤条件"), Vel::ErrObjectNotSet, QString(), Vel::ErrorKind::BadFilter);
        const Database &db = Database::ForReports(propsString);
        // All the report's statements read one moment of the chain.
        const Database::ReadSnapshot snapshot(db);
        Database::Request request(db);
        {
            std::lock_guard guard(m_lock);
            m_request = &request;
            if (m_interrupted)
                request.Interrupt();
        }
        // Whatever the reads did, an interrupted request answers "cancelled"; the interrupt is
        // used up by the request it stopped.
        auto finish = [&] {
            std::lock_guard guard(m_lock);
            m_request = nullptr;
            if (std::exchange(m_interrupted, false))
                throw Vel::Cancelled();
        };
        RecordsetPtr rows;
        try {
            rows = ReportQueries::Run(m_rptId, db, filter.get());
        } catch (...) {
            finish();
            throw;
        }
        finish();
        return Vel::ToVariant(rows);
    });
}

void GLData::Interrupt()
{
    std::lock_guard guard(m_lock);
    m_interrupted = true;
    if (m_request)
        m_request->Interrupt();
}

QVariant GLData::GetRptData(const QString &propsString, const QVariant &filter)
{
    DictionaryPtr dict = Vel::AsDictionary(filter);
    return GetRptData(propsString, dict);
}

RecordsetPtr GLData::GetLookupList(const QString &propsString, qint32 lookupType, const QString &condition,
                                   const QString &searchText, qint32 limit)
{
    return guarded(propsString, [&] {
        const LookupSource *source = nullptr;
        for (const LookupSource &s : lookupSources) {
            if (s.type == lookupType)
                source = &s;
        }
        if (!source)
            throw VelError(QStringLiteral("没有类型为 %1 的查找列表").arg(lookupType));
        const Database &db = Database::ForReports(propsString);
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
        // A branch user sees its own branch and the cards it issued; the rest is chain-wide.
        const QString scope = ScopeBranch();
        if (!scope.isEmpty() && lookupType == 5)
            where.Add(QStringLiteral("x2.FNumber = ?"), {scope});
        else if (!scope.isEmpty() && lookupType == 50)
            where.Add(QStringLiteral("x2.FBranchID IN (SELECT FID FROM branch WHERE FNumber = ?)"), {scope});
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
    });
}

QVariant GLData::LookupList(const QString &propsString, qint32 lookupType, const QString &condition,
                            const QString &searchText, qint32 limit)
{
    return Vel::ToVariant(GetLookupList(propsString, lookupType, condition, searchText, limit));
}
