#pragma once

#include "velhost_export.h"

#include <QObject>
#include <QString>
#include <QVariant>

// The shared-property store ("VelPropsMgr.ShareProps"): per-process properties set by the host.
class VELHOST_EXPORT ISharePropsStore
{
public:
    virtual ~ISharePropsStore() = default;
    // The property's value; an empty Variant when the host set none. Throws VelError on failure.
    virtual QVariant GetProperty(qint32 &processId, QString &name) = 0;
};

#define ISharePropsStore_iid "com.velvip.ISharePropsStore/1.0"
Q_DECLARE_INTERFACE(ISharePropsStore, ISharePropsStore_iid)
