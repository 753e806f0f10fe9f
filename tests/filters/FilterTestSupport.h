#pragma once

// Shared set-up of the filter tests: the host's components, a published context, a clean
// scheme file, the plug-in tests' fake data component for lookups, and helpers that drive
// modal dialogs.

#include "../plugin/Entries.h"
#include "../plugin/FakeServerData.h"
#include "ComponentRegistry.h"
#include "Dictionary.h"
#include "FilterPanel.h"
#include "HostKit.h"
#include "Recordset.h"
#include "ReportFilterPanel.h"
#include "SchemeStore.h"
#include "ServerData.h"
#include "VelError.h"
#include "filters/FilterForm.h"
#include "filters/ReportFilter.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace FilterTest {

inline QString SchemeFile() { return SchemeStore::DefaultPath(); }

// Once per test program: test-mode paths and the components a host registers.
inline void InitEnvironment()
{
    QStandardPaths::setTestModeEnabled(true);
    RegisterHostKitComponents();
    RegisterFilterPanelComponent();
}

// Before every test: a head office with shared cards, application type 2, no schemes.
inline void ResetEnvironment()
{
    HostContext::Clear();
    HostContext::Publish();
    HostContext::SetAppType(2);
    HostContext::SetIsBranch(false);
    HostContext::SetSVCardShareType(true);
    HostContext::SetBranchNum(QStringLiteral("B07"));
    ShareProps::SetHostProperty(QStringLiteral("PropsString"), QStringLiteral("Driver=SQLite;Database=/tmp/chain.sqlite"));
    QFile::remove(SchemeFile());
    QFile::remove(SchemeFile() + QStringLiteral("-journal"));
    // A new home has no data folder yet; tests that write the file themselves need it.
    QDir().mkpath(QFileInfo(SchemeFile()).path());
    FakeServerData::Install();
}

// Windows left open by a test; deferred deletes are run first.
inline QWidgetList LeakedWindows()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QWidgetList open;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible())
            open << w;
    return open;
}

inline QDialog *VisibleModal()
{
    if (auto *w = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
        return w;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<QDialog *>(w); d && d->isVisible() && d->isModal())
            return d;
    return nullptr;
}

// Runs `action` on the modal dialog as soon as one shows. If none shows within a few seconds,
// every visible dialog is rejected so that a test can never hang.
inline void WhenModal(std::function<void(QDialog *)> action, int triesLeft = 300)
{
    QTimer::singleShot(10, qApp, [action = std::move(action), triesLeft]() mutable {
        if (QDialog *d = VisibleModal(); d && d->isVisible()) {
            action(d);
            return;
        }
        if (triesLeft > 0) {
            WhenModal(std::move(action), triesLeft - 1);
            return;
        }
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *d = qobject_cast<QDialog *>(w); d && d->isVisible())
                d->reject();
    });
}

inline QPushButton *PanelButton(QWidget *dialog, const char *name)
{
    return dialog->findChild<QPushButton *>(QLatin1String(name));
}

inline ReportFilterPanel *PanelOf(QWidget *dialog)
{
    return dialog->findChild<ReportFilterPanel *>();
}

// A form of the report, loaded and shown (which runs its load and the panel's first restore).
inline std::unique_ptr<FilterForm> ShownForm(qint32 rptId)
{
    std::unique_ptr<FilterForm> form(ReportFilter::CreateForm(rptId));
    form->SetRptID(rptId);
    form->show();
    return form;
}

inline DictionaryPtr Saved(FilterForm *form)
{
    DictionaryPtr filter = Dictionary::Create();
    emit form->Panel()->SaveFilter(filter);
    return filter;
}

inline void Restore(FilterForm *form, DictionaryPtr filter)
{
    emit form->Panel()->LoadFilter(filter);
}

inline DictionaryPtr Make(const Entries &entries) { return MakeDictionary(entries); }

inline QList<int> TypeIds(const DictionaryPtr &d)
{
    QList<int> ids;
    for (const QString &k : d->Keys())
        ids << d->Value(k).typeId();
    return ids;
}

} // namespace FilterTest
