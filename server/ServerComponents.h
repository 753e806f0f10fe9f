#pragma once

#include "velserver_export.h"

// Registers "VelMVipRpt.GLData" with the component registry.
VELSERVER_EXPORT void RegisterServerComponents();
