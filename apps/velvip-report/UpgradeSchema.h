#pragma once

#include <QStringList>

// velvip-report upgrade-schema --props TEXT
// Brings an existing chain up to the current schema: builds the stored-value and points
// balance ledger from the movements (again, when it is there) and creates its triggers.
// `args` are the arguments after "upgrade-schema". Returns the exit status: 0 done, 1 failed,
// 2 usage error.
int UpgradeSchemaMain(const QStringList &args);
