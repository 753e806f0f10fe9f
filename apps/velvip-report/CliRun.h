#pragma once

#include "CliOptions.h"

#include <QStringList>

// The command-line host's work, with exit status: 0 the report succeeded, 1 it failed, 2 the
// command line was wrong. Needs a QApplication (the progress window is a dialog).
int RunMain(const QStringList &args);
