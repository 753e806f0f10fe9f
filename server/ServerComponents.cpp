#include "ServerComponents.h"

#include "ComponentRegistry.h"
#include "GLData.h"

namespace {

void registerWith(const BranchScope &scope)
{
    ComponentRegistry::Instance().Register(QString::fromLatin1(Vel::ServerDataProgId),
                                           [scope] { return new GLData(scope); });
}

} // namespace

void RegisterServerComponents()
{
    registerWith(BranchScope::HeadOffice());
}

ServerDataScope::ServerDataScope(const BranchScope &scope)
{
    registerWith(scope);
}

ServerDataScope::~ServerDataScope()
{
    ComponentRegistry::Instance().Unregister(QString::fromLatin1(Vel::ServerDataProgId));
}
