#include "GLData.h"

#include <atomic>

#include "ConnectionText.h"
#include "Database.h"
#include "Dictionary.h"
#include "ReadSessions.h"
#include "ReportQueries.h"
#include "StandbyChooser.h"
#include "VelError.h"

namespace {

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
            ReadSessions::Release(propsString);
            return body();
        } catch (const VelError &e) {
            if (Vel::IsCancelled(e) || !StandbyChooser::Failed(propsString, e.Kind() == Vel::ErrorKind::Unavailable))
                throw;
            return body();
        }
    } catch (const VelError &e) {
        // A broken session (server restarted, file replaced) must not stay in the pool; one
        // whose read was cancelled is idle again.
        if (!Vel::IsCancelled(e))
            ReadSessions::Release(propsString);
        // The host reads the run's outcome as text; its kind is noted for it beside.
        Vel::NoteFailure(e.Kind());
        throw VelError(e.Description(), e.Number(), QStringLiteral("VelMVipRpt.GLData"), e.Kind());
    }
}

} // namespace

GLData::GLData(BranchScope scope, QObject *parent) : QObject(parent), m_scope(std::move(scope))
{
}

QVariant GLData::GetRptData(const QString &propsString, DictionaryPtr &filter)
{
    return guarded(propsString, [&] {
        if (!filter)
            throw VelError(QStringLiteral("没有过滤条件"), Vel::ErrObjectNotSet, QString(), Vel::ErrorKind::BadFilter);
        const Database &db = ReadSessions::For(propsString);
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
            rows = ReportQueries::Run(m_rptId, db, filter.get(), m_scope);
        } catch (...) {
            finish();
            throw;
        }
        finish();
        return Vel::ToVariant(rows);
    });
}

namespace {
std::atomic<quint64> interrupts{0};
} // namespace

quint64 GLData::InterruptCount()
{
    return interrupts;
}

void GLData::Interrupt()
{
    ++interrupts;
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
        return ReportQueries::Lookup(ReadSessions::For(propsString), lookupType, condition, searchText, limit,
                                     m_scope);
    });
}

QVariant GLData::LookupList(const QString &propsString, qint32 lookupType, const QString &condition,
                            const QString &searchText, qint32 limit)
{
    return Vel::ToVariant(GetLookupList(propsString, lookupType, condition, searchText, limit));
}
