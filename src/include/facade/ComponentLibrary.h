#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// What a component library loaded with QPluginLoader offers its host: its public ProgIDs, a
// class object per ProgID, registration in the ComponentRegistry, and whether it may be unloaded.
class IComponentLibrary
{
public:
    virtual ~IComponentLibrary() = default;

    virtual QStringList ProgIds() const = 0;
    // A new instance, owned by the caller; nullptr for a ProgID the library does not publish.
    virtual QObject *CreateInstance(const QString &progId) = 0;
    // Registers (or removes) every public class in ComponentRegistry::Instance().
    virtual void RegisterServer() = 0;
    virtual void UnregisterServer() = 0;
    // True when no object made by this library is alive.
    virtual bool CanUnloadNow() const = 0;
};

#define IComponentLibrary_iid "com.velvip.IComponentLibrary/1.0"
Q_DECLARE_INTERFACE(IComponentLibrary, IComponentLibrary_iid)

// The plain entry points, resolvable with QLibrary::resolve for hosts that do not use the
// plug-in instance.
extern "C" {
// A new instance of the class that `progId` (UTF-8) names, owned by the caller, or nullptr.
Q_DECL_EXPORT QObject *DllGetClassObject(const char *progId);
// 1 when no object made by the library is alive, otherwise 0.
Q_DECL_EXPORT int DllCanUnloadNow();
// Registers the public classes in ComponentRegistry; returns 0.
Q_DECL_EXPORT int DllRegisterServer();
// Removes them again; returns 0.
Q_DECL_EXPORT int DllUnregisterServer();
}
