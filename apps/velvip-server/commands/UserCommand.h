#pragma once

#include <QStringList>

// `velvip-server user add|passwd|disable|list …` and `velvip-server token add|revoke|list …`:
// the service's users and bearer tokens, in its store. `args` start with "user" or "token".
// Exit status 0, 1 on failure, 2 for a usage error.
int UserMain(const QStringList &args);
