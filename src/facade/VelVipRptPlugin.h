#pragma once

#include "facade/ComponentLibrary.h"

#include <QObject>

// The library as a Qt plug-in: QPluginLoader(path).instance() is this object.
class VelVipRptPlugin : public QObject, public IComponentLibrary
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID IComponentLibrary_iid FILE "../VelVipRpt.json")
    Q_INTERFACES(IComponentLibrary)

public:
    explicit VelVipRptPlugin(QObject *parent = nullptr);

    QStringList ProgIds() const override;
    QObject *CreateInstance(const QString &progId) override;
    void RegisterServer() override;
    void UnregisterServer() override;
    bool CanUnloadNow() const override;
};
