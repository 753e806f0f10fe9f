#pragma once

#include "ConnectionSettings.h"
#include "Types.h"

#include <QList>
#include <QString>

class QSettings;

// The tabs open when the window closed, so that the next start can run them again: each
// tab's report, filter, drill-down label and connection. A password is kept only where the
// connection settings keep it; a connection text given for one session is kept only
// when it has no password.
struct SavedTab
{
    qint32 rptId = 0;
    DictionaryPtr filter;
    QString label;
    ConnectionSettings connection;
    QString overrideProps;
};

namespace SavedTabs {

void Save(QSettings &settings, const QList<SavedTab> &tabs);
QList<SavedTab> Load(QSettings &settings);

} // namespace SavedTabs
