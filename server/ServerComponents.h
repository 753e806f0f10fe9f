#pragma once

#include "velserver_export.h"

#include "BranchScope.h"

// Registers "VelMVipRpt.GLData" with the component registry, reading as head office: what the
// desktop and the command line use, whose filters carry the branch keys themselves.
VELSERVER_EXPORT void RegisterServerComponents();

// While it lives, "VelMVipRpt.GLData" reads within `scope`; afterwards it is not registered at
// all, so that nothing in the process reads outside a scope it was given.
class VELSERVER_EXPORT ServerDataScope
{
public:
    explicit ServerDataScope(const BranchScope &scope);
    ~ServerDataScope();
    ServerDataScope(const ServerDataScope &) = delete;
    ServerDataScope &operator=(const ServerDataScope &) = delete;
};
