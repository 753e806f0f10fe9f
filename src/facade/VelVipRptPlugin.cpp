#include "VelVipRptPlugin.h"

#include "facade/Application.h"
#include "facade/Catalog.h"
#include "facade/IQueryReport.h"
#include "facade/IReportFilter.h"
#include "reports/Reports.h"

#include "ComponentRegistry.h"
#include "Types.h"

#include <QMetaType>

#include <atomic>
#include <functional>
#include <utility>

namespace {

std::atomic<int> g_liveObjects{0};

using Maker = std::function<QObject *()>;

const QList<std::pair<QString, Maker>> &classes()
{
    static const QList<std::pair<QString, Maker>> list = [] {
        QList<std::pair<QString, Maker>> l = {
            {QString::fromLatin1(VelVipRpt::ApplicationProgId), [] { return new Application; }}};
        for (const VelVipRpt::ReportEntry &r : VelVipRpt::Reports) {
            const qint32 id = r.id;
            l.append({QString::fromLatin1(r.progId), [id] { return NewReport(id).release(); }});
        }
        l.append({QStringLiteral("VelVipRpt.IQueryReport"), [] { return new IQueryReport; }});
        l.append({QStringLiteral("VelVipRpt.IReportFilter"), [] { return new IReportFilter; }});
        return l;
    }();
    return list;
}

// Lets Application be driven by name: setProperty("Filter", QVariant::fromValue(DictionaryPtr)).
void registerMetaTypes()
{
    qRegisterMetaType<DictionaryPtr>("DictionaryPtr");
    qRegisterMetaType<VectorPtr>("VectorPtr");
    qRegisterMetaType<RecordsetPtr>("RecordsetPtr");
}

QObject *create(const QString &progId)
{
    for (const auto &[id, make] : classes()) {
        if (id.compare(progId, Qt::CaseInsensitive) != 0)
            continue;
        registerMetaTypes();
        QObject *object = make();
        ++g_liveObjects;
        QObject::connect(object, &QObject::destroyed, [] { --g_liveObjects; });
        return object;
    }
    return nullptr;
}

} // namespace

VelVipRptPlugin::VelVipRptPlugin(QObject *parent) : QObject(parent)
{
    registerMetaTypes();
}

QStringList VelVipRptPlugin::ProgIds() const
{
    QStringList ids;
    for (const auto &entry : classes())
        ids.append(entry.first);
    return ids;
}

QObject *VelVipRptPlugin::CreateInstance(const QString &progId) { return create(progId); }
void VelVipRptPlugin::RegisterServer() { DllRegisterServer(); }
void VelVipRptPlugin::UnregisterServer() { DllUnregisterServer(); }
bool VelVipRptPlugin::CanUnloadNow() const { return DllCanUnloadNow() == 1; }

extern "C" {

QObject *DllGetClassObject(const char *progId)
{
    return progId ? create(QString::fromUtf8(progId)) : nullptr;
}

int DllCanUnloadNow()
{
    return g_liveObjects.load() == 0 ? 1 : 0;
}

int DllRegisterServer()
{
    registerMetaTypes();
    for (const auto &entry : classes()) {
        const QString id = entry.first;
        ComponentRegistry::Instance().Register(id, [id] { return create(id); });
    }
    return 0;
}

int DllUnregisterServer()
{
    for (const auto &entry : classes())
        ComponentRegistry::Instance().Unregister(entry.first);
    return 0;
}

} // extern "C"
