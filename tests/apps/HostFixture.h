#pragma once

#include "DemoChain.h"
#include "MainWindow.h"
#include "ReportSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

// Settings of the desktop host kept in the test's own folder, a small demo chain there and the
// report components registered; returns the chain's connection text.
inline QString PrepareHostTest(const QTemporaryDir &dir, const char *name, int members, int items,
                               int linesPerDay)
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath("settings"));
    QCoreApplication::setOrganizationName("VelVipRptTest");
    QCoreApplication::setApplicationName(name);
    // Filters remembered by an earlier run would fill the dialogs.
    QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
    DemoOptions o;
    o.outPath = dir.filePath("small.sqlite"), o.members = members, o.items = items, o.days = 40, o.linesPerDay = linesPerDay;
    DemoChain::Generate(o);
    ReportSession::RegisterComponents();
    return DemoChain::SqliteConnectionText(o.outPath);
}

// The desktop window on a chain, shown unless asked not to be.
struct ChainWindow : MainWindow
{
    explicit ChainWindow(const QString &props, bool shown = true)
    {
        OverrideConnection(props);
        if (shown)
            show();
    }
};
