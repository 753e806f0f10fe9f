#include "DesktopProps.h"

#include <QHash>
#include <QMutex>

#include <unistd.h>

namespace {
QMutex g_mutex;
QHash<QString, Dictionary *> &props()
{
    static QHash<QString, Dictionary *> map;
    return map;
}
} // namespace

namespace DesktopProps {

void SetProp(const QString &name, Dictionary *object)
{
    QMutexLocker lock(&g_mutex);
    props().insert(name, object);
}

Dictionary *GetProp(const QString &name)
{
    QMutexLocker lock(&g_mutex);
    return props().value(name, nullptr);
}

void RemoveProp(const QString &name)
{
    QMutexLocker lock(&g_mutex);
    props().remove(name);
}

QString ContextPropName()
{
    return QString::number(qint64(::getpid()));
}

} // namespace DesktopProps
