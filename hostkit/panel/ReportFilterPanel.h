#pragma once

#include "hostkit_panel_export.h"

#include "FilterPanel.h"

#include <QHash>
#include <QList>
#include <QPointer>

#include <functional>

#include <memory>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QVBoxLayout;
class PeriodPresets;
class SchemeBar;
class SchemeStore;

// Our filter panel ("Vel_GRFC.ReportFilter"): the scheme list on the left, the page with the
// dialog's frames (and period presets under the date frame) on the right, reset / confirm /
// cancel below. On its first showing it raises LoadFilter with the filter confirmed last for
// the report (or, without one, with the dialog's
// own current filter), so a dialog always gets one restore to lay itself out and fill its
// hidden boxes.
class HOSTKIT_PANEL_EXPORT ReportFilterPanel : public FilterPanel
{
    Q_OBJECT

public:
    explicit ReportFilterPanel(QWidget *parent = nullptr);
    ~ReportFilterPanel() override;

    qint32 ReportID() const override { return m_reportId; }
    void SetReportID(qint32 id) override;
    qint32 ActiveTab() const override;
    void SetActiveTab(qint32 tab) override;
    void SetSetting(const QString &name, const QVariant &value) override;
    QVariant Setting(const QString &name) const override;
    void AddFrame(QWidget *frame) override;
    DictionaryPtr GetFilter() override;
    QString GetFilterString(qint32 kind) override;

    // What the buttons do, callable by a host or a test.
    Q_INVOKABLE void Confirm();
    Q_INVOKABLE void Cancel();
    Q_INVOKABLE void Reset();

    // Saved schemes of the current report.
    QStringList SchemeNames() const;
    bool SaveScheme(const QString &name);
    bool RestoreScheme(const QString &name);
    bool RenameScheme(const QString &from, const QString &to);
    bool DeleteScheme(const QString &name);

    // The message line under the page (file problems, failed saves); empty when all is well.
    QString StatusText() const;
    // The scheme file, opened on first use.
    SchemeStore &Store() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    // Raises a dialog event; a failure in the dialog's handler is shown on the status line.
    bool raise(const std::function<void()> &event);
    void buildUi();
    void arrangeFrames();
    void refreshSchemeList(const QString &select = QString());
    // `field`: the sentence is about a code box, and goes once every box is fine.
    void setStatus(const QString &text, bool field = false);
    // The first code box whose text the run would refuse, and why; empty when none.
    QString fieldProblem(QLineEdit **where) const;
    void closeDialog(int code);
    void openLookup(QAbstractButton *button);
    QLineEdit *codeBoxFor(qint32 index) const;
    bool autosave() const;

    qint32 m_reportId = 0;
    QHash<QString, QVariant> m_settings;
    QList<QPointer<QWidget>> m_frames;
    bool m_restoredOnShow = false;
    QPointer<PeriodPresets> m_presets;
    QPointer<QWidget> m_presetsFrame;
    mutable std::unique_ptr<SchemeStore> m_store;

    SchemeBar *m_schemeBar = nullptr;
    QTabWidget *m_tabs = nullptr;
    QVBoxLayout *m_pageLayout = nullptr;
    QLabel *m_status = nullptr;
    bool m_fieldStatus = false;
};

// Registers "Vel_GRFC.ReportFilter" with the component registry.
HOSTKIT_PANEL_EXPORT void RegisterFilterPanelComponent();
