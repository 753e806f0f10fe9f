#include "ServerComponents.h"

#include "ComponentRegistry.h"
#include "GLData.h"

void RegisterServerComponents()
{
    ComponentRegistry::Instance().Register(QString::fromLatin1(Vel::ServerDataProgId),
                                           [] { return new GLData; });
}
