#include "ComponentRegistry.h"

#include "VelError.h"

ComponentRegistry &ComponentRegistry::Instance()
{
    static ComponentRegistry registry;
    return registry;
}

void ComponentRegistry::Register(const QString &progId, Factory factory)
{
    m_factories.insert(progId.toLower(), std::move(factory));
}

void ComponentRegistry::Unregister(const QString &progId)
{
    m_factories.remove(progId.toLower());
}

bool ComponentRegistry::IsRegistered(const QString &progId) const
{
    return m_factories.contains(progId.toLower());
}

QStringList ComponentRegistry::ProgIds() const
{
    QStringList ids = m_factories.keys();
    ids.sort();
    return ids;
}

std::unique_ptr<QObject> ComponentRegistry::Create(const QString &progId) const
{
    auto it = m_factories.constFind(progId.toLower());
    if (it == m_factories.constEnd())
        throw VelError(QStringLiteral("Cannot create component \"%1\": no such component is registered").arg(progId),
                       Vel::ErrCannotCreateComponent, progId);
    std::unique_ptr<QObject> obj((*it)());
    if (!obj)
        throw VelError(QStringLiteral("Cannot create component \"%1\": its factory made no object").arg(progId),
                       Vel::ErrCannotCreateComponent, progId);
    return obj;
}

void ComponentRegistry::throwWrongInterface(const QString &progId)
{
    throw VelError(QStringLiteral("Component \"%1\" does not support the expected interface").arg(progId),
                   Vel::ErrCannotCreateComponent, progId);
}
