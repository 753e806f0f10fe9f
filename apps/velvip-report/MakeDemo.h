#pragma once

#include <QStringList>

// velvip-report make-demo --out FILE [--props TEXT] [--branches N] [--members N] [--items N]
//                         [--days N] [--lines-per-day N] [--seed N] [--start YYYY-MM-DD] [--partitioned]
// Without --start the chain ends yesterday.
// `args` are the arguments after "make-demo". Progress goes to stderr. Returns the exit
// status: 0 done, 1 failed, 2 usage error.
int MakeDemoMain(const QStringList &args);
