#pragma once

#include "hostkit_export.h"

#include "ErrorReporter.h"
#include "ShareProps.h"
#include "Types.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

// The host's context: one Dictionary per process, published under DesktopProps::ContextPropName()
// so that the plug-in finds it without any argument. The host owns it; the plug-in borrows it.
class HOSTKIT_EXPORT HostContext
{
public:
    // Publishes the context (creating it on first use) and returns it.
    static DictionaryPtr Publish();
    // Takes the context off the process-wide table; the dictionary itself is kept for a later Publish.
    static void Withdraw();
    static bool IsPublished();
    // The context dictionary (created on first use, published or not).
    static DictionaryPtr Context();

    static void SetAppType(qint32 appType);
    static void SetIsBranch(bool isBranch);
    static void SetSVCardShareType(bool shared);
    static void SetBranchNum(const QString &branchNum);
    static void SetValue(const QString &key, const QVariant &value);
    static void Clear();
};

// The shared-property store "VelPropsMgr.ShareProps": per-process properties the host sets
// through SetHostProperty and components read through GetProperty.
class HOSTKIT_EXPORT ShareProps : public QObject, public ISharePropsStore
{
    Q_OBJECT
    Q_INTERFACES(ISharePropsStore)

public:
    using QObject::QObject;

    Q_INVOKABLE QVariant GetProperty(qint32 &processId, QString &name) override;

    static void SetHostProperty(qint32 processId, const QString &name, const QVariant &value);
    // For the current process.
    static void SetHostProperty(const QString &name, const QVariant &value);
    static void RemoveHostProperty(qint32 processId, const QString &name);
    static void ClearHostProperties();
    // How many stores were created since the start (a store is created per read).
    static qint64 InstancesCreated();
};

// Keeps every text and error handed to it (for tests and hosts that show them later).
class HOSTKIT_EXPORT CollectingErrorReporter : public IErrorReporter
{
public:
    void ShowMessage(const QString &text) override { m_messages.append(text); }
    void ShowError(const VelError &error) override;

    const QStringList &Messages() const { return m_messages; }
    void Clear() { m_messages.clear(); }

private:
    QStringList m_messages;
};

// Writes every text to stderr (the command-line host).
class HOSTKIT_EXPORT StderrErrorReporter : public IErrorReporter
{
public:
    void ShowMessage(const QString &text) override;
    void ShowError(const VelError &error) override;
};

// Shows every text in a modal message box (the desktop host).
class HOSTKIT_EXPORT MessageBoxErrorReporter : public IErrorReporter
{
public:
    explicit MessageBoxErrorReporter(QString caption = QString()) : m_caption(std::move(caption)) {}
    void ShowMessage(const QString &text) override;
    void ShowError(const VelError &error) override;

private:
    QString m_caption;
};

// Installs "VelPropsMgr.ShareProps" in the component registry.
HOSTKIT_EXPORT void RegisterHostKitComponents();
