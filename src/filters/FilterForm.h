#pragma once

#include "ServerData.h"
#include "Types.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <map>

class FilterPanel;
class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QFrame;
class QLabel;
class QLineEdit;
class QSpinBox;
class QToolButton;

// What the six filter dialogs share: the members the dialog host reads and writes, the filter
// panel that covers the dialog (created by its ProgID), the panel's events wired to the
// dialog's handlers, and helpers that place controls by their twips layout.
class FilterForm : public QDialog
{
    Q_OBJECT
    Q_PROPERTY(qint32 RptID READ RptID WRITE SetRptID)
    Q_PROPERTY(bool ShowFilter READ ShowFilter WRITE SetShowFilter)
    Q_PROPERTY(QString FilterString READ FilterString)
    Q_PROPERTY(DictionaryPtr Result READ Result)

public:
    ~FilterForm() override;

    qint32 RptID() const { return m_rptId; }
    void SetRptID(qint32 NewValue) { m_rptId = NewValue; }
    bool ShowFilter() const { return m_showFilter; }
    void SetShowFilter(bool NewValue) { m_showFilter = NewValue; }
    QString FilterString() const { return m_filterString; }
    DictionaryPtr Result() const { return m_result; }

    // True when every key goes to the dialog host first (Enter moves on, no apostrophe).
    virtual bool KeyPreview() const { return false; }

    FilterPanel *Panel() const { return m_panel; }

    // Moves the focus to the next control in the dialog's tab order (Enter on the dialogs that
    // preview keys). A date picker's own sections are not stops.
    void FocusNextControl() { focusNextPrevChild(true); }

    // Handlers of the panel's events.
    virtual void ResetFilter() {}
    void FilterConfirmed(qint16 &Cancel);
    virtual void LoadFilter(DictionaryPtr &Filter) = 0;
    virtual void SaveFilter(DictionaryPtr &Filter) = 0;
    virtual void GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &Condition, QVariant &Extra) = 0;

    // The form's load runs once, just before the dialog first becomes visible.
    void setVisible(bool visible) override;
    bool IsLoaded() const { return m_loaded; }

signals:
    // The user closed the window itself (not through the panel's confirm or cancel).
    void Unload();

public:
    // Index-addressed control arrays; a text box and its lookup button share an index.
    std::map<int, QLineEdit *> txtItem;
    std::map<int, QToolButton *> cmdItem;
    std::map<int, QLabel *> lbl;
    std::map<int, QFrame *> Line2;

protected:
    void closeEvent(QCloseEvent *event) override;

    // Throws VelError when the filter panel cannot be created.
    FilterForm(const QSize &clientTwips, QWidget *parent = nullptr);

    virtual void Form_Load() = 0;

    // Load steps shared by every form.
    void SetPanelReportID();
    void CreateResult();
    void ResetActiveTab();
    // The three steps above, each guarded.
    void LoadSteps();
    // Runs one step; a failure is dropped and the caller goes on with the next step.
    static void Guarded(const std::function<void()> &step);

    // Controls placed inside a frame by twips (left, top, width, height).
    QFrame *AddFrame(const QString &name, int width, int height);
    QLabel *AddLabel(QWidget *frame, const QString &text, int left, int top, int width = 1000);
    QLineEdit *AddTextBox(QWidget *frame, int index, int left, int top, int width = 1600, int height = 285);
    // A lookup button; `boxIndex` is the box it fills when that differs from its own index.
    QToolButton *AddLookupButton(QWidget *frame, int index, int left, int top, int boxIndex = -1);
    // One row of code boxes at the usual columns: the caption lbl(labelIndex), the begin box and
    // its button, and with end >= 0 the end box and its button (cmdItem(endButton) when given),
    // joined by the dash Line2(lineIndex) when lineIndex >= 0.
    void AddCodeRow(QWidget *frame, int top, int labelIndex, const QString &caption, int begin, int end = -1,
                    int lineIndex = -1, int endButton = -1);
    QFrame *AddLine(QWidget *frame, int x1, int x2, int y);
    // fraItem with two code rows, `first` in boxes 0/1 and `second` in 2/3, tabbing on from `after`.
    QFrame *AddTwoCodeRows(const QString &first, const QString &second, QWidget *after);
    QDateTimeEdit *AddDatePicker(QWidget *frame, const QString &name, const QString &format,
                                 int left, int top, int width, int height = 300);
    QCheckBox *AddCheckBox(QWidget *frame, const QString &name, const QString &text, int left, int top,
                           int width = 1935, int height = 255);
    QComboBox *AddComboBox(QWidget *frame, const QString &name, int left, int top, int width, int height = 315);
    // Text keys read into their boxes, each with the empty text as default.
    void LoadBoxes(const DictionaryPtr &filter, std::initializer_list<std::pair<const char *, int>> keys);
    // Text keys written from their boxes, trimmed, each step on its own.
    void SaveBoxes(const DictionaryPtr &filter, std::initializer_list<std::pair<const char *, int>> keys);
    // Puts a date value (a date or a date text) into a picker; anything else leaves it as it is.
    static void SetPickerFrom(QDateTimeEdit *picker, const QVariant &value);
    // Hides controls (a row the site may not change).
    static void HideAll(std::initializer_list<QWidget *> controls);
    // Hides the branch row and puts the site's own branch number into its boxes (0 and 1).
    void HideBranchRow(std::initializer_list<QWidget *> row);
    // Moves a control up by a number of twips, relative to where it is now.
    static void MoveUp(std::initializer_list<QWidget *> controls, int twips);

    // A check box's state as the 16-bit 0 or 1 the filters carry.
    static QVariant CheckValue(const QCheckBox *box);
    // Text of a box without leading and trailing spaces.
    static QString Trimmed(const QLineEdit *box);
    // The index a control carries for lookups, -1 when it carries none.
    static int IndexOf(const QObject *ctrl);

    // Branch lookup condition: head-office sites only, and without the trade-type-1 sites
    // unless cards are shared between branches.
    static QString BranchCondition();
    // The answers every dialog with branch boxes (0, 1) and card boxes (2, 3) gives; false for
    // other indexes.
    static bool AnswerBranchOrCard(int index, const QString &branchCondition, qint32 &LookupType, QString &Condition);

private:
    void orderFocus();

    QList<QFrame *> m_frames;
    FilterPanel *m_panel = nullptr;
    DictionaryPtr m_result;
    QString m_filterString;
    qint32 m_rptId = 0;
    bool m_showFilter = false;
    bool m_loaded = false;
};

