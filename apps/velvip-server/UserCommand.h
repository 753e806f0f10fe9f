#pragma once

#include <QStringList>

// `velvip-server user add|passwd|disable|list|token …`: the service's users, in its store.
// Exit status 0, 1 on failure, 2 for a usage error.
int UserMain(const QStringList &args);
