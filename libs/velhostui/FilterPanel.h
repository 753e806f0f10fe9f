#pragma once

#include "velhostui_export.h"

#include "Types.h"

#include <QString>
#include <QVariant>
#include <QWidget>

// The filter panel control ("Vel_GRFC.ReportFilter") that covers every filter dialog. The
// dialog hands it its frames and settings and answers its events; the panel owns confirm,
// cancel, reset, saved schemes and lookup lists.
class VELHOSTUI_EXPORT FilterPanel : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(qint32 ReportID READ ReportID WRITE SetReportID)
    Q_PROPERTY(qint32 ActiveTab READ ActiveTab WRITE SetActiveTab)

public:
    using QWidget::QWidget;

    // Lookup wiring: a dialog names its lookup buttons "cmdItem" and its code boxes "txtItem"
    // and gives each the integer property "Index"; a button fills the box of the same index.
    static constexpr const char *IndexProperty = "Index";
    static constexpr const char *LookupButtonName = "cmdItem";
    static constexpr const char *CodeBoxName = "txtItem";
    // A code box's caption as its row shows it ("会员卡号"), the name the panel's messages use.
    static constexpr const char *CaptionProperty = "Caption";

    virtual qint32 ReportID() const = 0;
    virtual void SetReportID(qint32 id) = 0;
    virtual qint32 ActiveTab() const = 0;
    virtual void SetActiveTab(qint32 tab) = 0;

    // Design settings such as "autosave", "limitmindate", "date:controlname".
    virtual void SetSetting(const QString &name, const QVariant &value) = 0;
    virtual QVariant Setting(const QString &name) const = 0;

    // The dialog's frames; the panel shows those its settings name on its pages and the
    // others (grouping frames) below them. The panel takes the frame into its own widget tree
    // and wires the frame's lookup buttons.
    virtual void AddFrame(QWidget *frame) = 0;

    // Raises SaveFilter into a new dictionary and returns it.
    Q_INVOKABLE virtual DictionaryPtr GetFilter() = 0;
    // A readable one-line text of the filter.
    Q_INVOKABLE virtual QString GetFilterString(qint32 kind) = 0;

signals:
    // The dialog's events, raised in this order of kinds. Arguments passed by reference may be
    // changed by the handler: Cancel (non-zero refuses the confirmation), the dictionaries,
    // LookupType and Condition. Handlers must be connected directly (same thread).
    void ResetFilter();
    void FilterConfirmed(qint16 &Cancel);
    void LoadFilter(DictionaryPtr &Filter);
    void SaveFilter(DictionaryPtr &Filter);
    void GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &Condition, QVariant &Extra);
};
