#pragma once

#include <QStringList>

// "velvip-report keys [RPTID] [--markdown]": each report's filter keys, as a table for the
// terminal or as Markdown for the documentation. Exit status 0, or 2 for a wrong argument.
int KeysMain(const QStringList &args);
