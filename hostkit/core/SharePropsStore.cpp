#include "HostKit.h"

#include "ComponentRegistry.h"
#include "ServerData.h"

#include <QCoreApplication>
#include <QHash>
#include <QMutex>

#include <atomic>

namespace {
struct Store
{
    QMutex mutex;
    QHash<QPair<qint32, QString>, QVariant> values;
};

Store &store()
{
    static Store s;
    return s;
}

std::atomic<qint64> g_created{0};
} // namespace

QVariant ShareProps::GetProperty(qint32 &processId, QString &name)
{
    Store &s = store();
    QMutexLocker lock(&s.mutex);
    return s.values.value(qMakePair(processId, name));
}

void ShareProps::SetHostProperty(qint32 processId, const QString &name, const QVariant &value)
{
    Store &s = store();
    QMutexLocker lock(&s.mutex);
    s.values.insert(qMakePair(processId, name), value);
}

void ShareProps::SetHostProperty(const QString &name, const QVariant &value)
{
    SetHostProperty(qint32(QCoreApplication::applicationPid()), name, value);
}

void ShareProps::RemoveHostProperty(qint32 processId, const QString &name)
{
    Store &s = store();
    QMutexLocker lock(&s.mutex);
    s.values.remove(qMakePair(processId, name));
}

void ShareProps::ClearHostProperties()
{
    Store &s = store();
    QMutexLocker lock(&s.mutex);
    s.values.clear();
}

qint64 ShareProps::InstancesCreated() { return g_created.load(); }

void RegisterHostKitComponents()
{
    ComponentRegistry::Instance().Register(QString::fromLatin1(Vel::SharePropsProgId), [] {
        ++g_created;
        return new ShareProps;
    });
}
