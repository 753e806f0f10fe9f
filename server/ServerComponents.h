#pragma once

// Registers "VelMVipRpt.GLData" with the component registry.
void RegisterServerComponents();
