#include "HostKit.h"

#include "DesktopProps.h"
#include "Dictionary.h"

namespace {
DictionaryPtr &context()
{
    static DictionaryPtr dictionary = Dictionary::Create();
    return dictionary;
}
} // namespace

DictionaryPtr HostContext::Publish()
{
    DesktopProps::SetProp(DesktopProps::ContextPropName(), context().get());
    return context();
}

void HostContext::Withdraw()
{
    DesktopProps::RemoveProp(DesktopProps::ContextPropName());
}

bool HostContext::IsPublished()
{
    return DesktopProps::GetProp(DesktopProps::ContextPropName()) == context().get();
}

DictionaryPtr HostContext::Context() { return context(); }

void HostContext::SetAppType(qint32 appType) { SetValue(QStringLiteral("AppType"), QVariant(appType)); }
void HostContext::SetIsBranch(bool isBranch) { SetValue(QStringLiteral("ISBranch"), QVariant(isBranch)); }
void HostContext::SetSVCardShareType(bool shared) { SetValue(QStringLiteral("SVCardShareType"), QVariant(shared)); }
void HostContext::SetBranchNum(const QString &branchNum) { SetValue(QStringLiteral("BranchNum"), QVariant(branchNum)); }

void HostContext::SetValue(const QString &key, const QVariant &value)
{
    context()->SetValue(key, value);
}

void HostContext::Clear()
{
    context()->RemoveAll();
}
