#pragma once

#include "velhost_export.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// ProgID -> factory. Components are QObjects; callers reach their interface with qobject_cast.
class VELHOST_EXPORT ComponentRegistry
{
public:
    using Factory = std::function<QObject *()>;

    static ComponentRegistry &Instance();

    void Register(const QString &progId, Factory factory);
    void Unregister(const QString &progId);
    bool IsRegistered(const QString &progId) const;
    QStringList ProgIds() const;

    // A new instance owned by the caller. Throws VelError naming the ProgID when it is not
    // registered or its factory makes nothing.
    std::unique_ptr<QObject> Create(const QString &progId) const;

    // Creates the component and checks that it implements interface T (declared with
    // Q_DECLARE_INTERFACE); the object is returned in `owner`.
    template <class T>
    T *CreateAs(const QString &progId, std::unique_ptr<QObject> &owner) const
    {
        owner = Create(progId);
        T *iface = qobject_cast<T *>(owner.get());
        if (!iface)
            throwWrongInterface(progId);
        return iface;
    }

private:
    [[noreturn]] static void throwWrongInterface(const QString &progId);
    QHash<QString, Factory> m_factories;
};
