#include "HostContextReader.h"

#include "ComponentRegistry.h"
#include "DesktopProps.h"
#include "Dictionary.h"
#include "ServerData.h"
#include "ShareProps.h"
#include "VariantConvert.h"
#include "VelError.h"

#include <QCoreApplication>

QVariant GetContextValue(const QString &key, const std::optional<QVariant> &defaultValue)
{
    // A borrowed raw pointer: the host owns the context; no shared reference is made here.
    Dictionary *context = DesktopProps::GetProp(DesktopProps::ContextPropName());
    if (!context)
        throw VelError(QStringLiteral("Object variable not set: the host has published no context object"),
                       Vel::ErrObjectNotSet);
    if (context->Lookup(key))
        return context->Value(key);
    return defaultValue.value_or(QVariant());
}

qint32 GetAppType()
{
    return VariantConvert::ToInt32(GetContextValue(QStringLiteral("AppType"), QVariant(qint32(2))));
}

bool GetIsBranch()
{
    return VariantConvert::ToBool(GetContextValue(QStringLiteral("ISBranch"), QVariant(false)));
}

bool GetSVCardShareType()
{
    return VariantConvert::ToBool(GetContextValue(QStringLiteral("SVCardShareType"), QVariant(false)));
}

QString GetBranchNum()
{
    return VariantConvert::ToText(GetContextValue(QStringLiteral("BranchNum"), QVariant(QString())));
}

bool ShowsBranchOfSale()
{
    return !GetIsBranch() && GetSVCardShareType();
}

QVariant GetShareProp(const QString &name)
{
    std::unique_ptr<QObject> owner;
    auto *store = ComponentRegistry::Instance().CreateAs<ISharePropsStore>(QString::fromLatin1(Vel::SharePropsProgId),
                                                                            owner);
    qint32 processId = qint32(QCoreApplication::applicationPid());
    QString propertyName = name;
    return store->GetProperty(processId, propertyName);
}

QString GetPropsString()
{
    return VariantConvert::ToText(GetShareProp(QStringLiteral("PropsString")));
}

bool GetAllowCancel()
{
    return VariantConvert::ToBool(GetShareProp(QStringLiteral("AllowCancel")));
}
