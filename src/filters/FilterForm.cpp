#include "FilterForm.h"

#include "ComponentRegistry.h"
#include "Dictionary.h"
#include "FilterPanel.h"
#include "FilterRules.h"
#include "HostContextReader.h"
#include "ServerData.h"
#include "dialog/Twips.h"
#include "VariantConvert.h"
#include "VelError.h"
#include "facade/Catalog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

FilterForm::FilterForm(const QSize &clientTwips, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("过滤"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    std::unique_ptr<QObject> owner = ComponentRegistry::Instance().Create(QLatin1String(Vel::FilterPanelProgId));
    m_panel = qobject_cast<FilterPanel *>(owner.get());
    if (!m_panel)
        throw VelError(QStringLiteral("Component \"%1\" is not a filter panel").arg(QLatin1String(Vel::FilterPanelProgId)),
                       Vel::ErrCannotCreateComponent, QLatin1String(Vel::FilterPanelProgId));
    owner.release();
    m_panel->setParent(this);
    m_panel->setObjectName(QStringLiteral("ReportFilter"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_panel);
    setMinimumSize(Twips::Size(clientTwips.width(), clientTwips.height()));

    m_panel->SetSetting(QStringLiteral("date:controlname"), QStringLiteral("fraPeriod"));
    m_panel->SetSetting(QStringLiteral("ccode:controlname"), QStringLiteral("fraItem"));
    m_panel->SetSetting(QStringLiteral("autosave"), true);
    m_panel->SetSetting(QStringLiteral("limitmindate"), true);
    m_panel->SetSetting(QStringLiteral("activetab"), 0);
    m_panel->SetSetting(QStringLiteral("filtervisible0"), true);
    for (int i = 1; i <= 5; ++i)
        m_panel->SetSetting(QStringLiteral("filtervisible%1").arg(i), false);

    connect(m_panel, &FilterPanel::ResetFilter, this, [this] { ResetFilter(); }, Qt::DirectConnection);
    connect(m_panel, &FilterPanel::FilterConfirmed, this, [this](qint16 &c) { FilterConfirmed(c); }, Qt::DirectConnection);
    connect(m_panel, &FilterPanel::LoadFilter, this, [this](DictionaryPtr &f) { LoadFilter(f); }, Qt::DirectConnection);
    connect(m_panel, &FilterPanel::SaveFilter, this, [this](DictionaryPtr &f) { SaveFilter(f); }, Qt::DirectConnection);
    connect(m_panel, &FilterPanel::GetLookupInfo, this,
            [this](QObject *ctrl, qint32 &type, QString &cond, QVariant &extra) { GetLookupInfo(ctrl, type, cond, extra); },
            Qt::DirectConnection);
}

FilterForm::~FilterForm() = default;

void FilterForm::setVisible(bool visible)
{
    if (visible && !m_loaded) {
        m_loaded = true;
        const VelVipRpt::ReportEntry *report = VelVipRpt::FindReport(m_rptId);
        setWindowTitle(report ? QStringLiteral("过滤 - %1").arg(QString::fromUtf8(report->name)) : QStringLiteral("过滤"));
        Form_Load();
        orderFocus();
        // A fixed dialog border: the designed client area, or more when the fonts need it.
        setFixedSize(minimumSize().expandedTo(sizeHint()));
    }
    QDialog::setVisible(visible);
}

// The form's filter controls come first in tab order and the panel's own controls (schemes,
// buttons) after them; the dialog opens on the first filter control it shows.
void FilterForm::orderFocus()
{
    QList<QWidget *> own, panel;
    for (QWidget *w = nextInFocusChain(); w && w != this; w = w->nextInFocusChain()) {
        if (!(w->focusPolicy() & Qt::TabFocus) || w->focusProxy())
            continue;
        const bool inFrame = std::any_of(m_frames.begin(), m_frames.end(), [w](QFrame *f) { return f->isAncestorOf(w); });
        (inFrame ? own : panel) << w;
    }
    const QList<QWidget *> chain = own + panel;
    for (qsizetype i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);
    for (QWidget *w : own) {
        if (w->isVisibleTo(this) && w->isEnabled()) {
            w->setFocus(Qt::TabFocusReason);
            break;
        }
    }
}

void FilterForm::closeEvent(QCloseEvent *event)
{
    emit Unload();
    QDialog::closeEvent(event);
}

void FilterForm::FilterConfirmed(qint16 &Cancel)
{
    if (Cancel != 0)
        return;
    m_filterString = m_panel->GetFilterString(0);
    m_result = m_panel->GetFilter();
    if (m_result)
        m_result->SetValue(QStringLiteral("OK"), true);
}

void FilterForm::SetPanelReportID() { m_panel->SetReportID(m_rptId); }

void FilterForm::CreateResult()
{
    m_result = Dictionary::Create();
    m_result->SetValue(QStringLiteral("OK"), false);
}

void FilterForm::ResetActiveTab()
{
    if (m_showFilter)
        m_panel->SetActiveTab(0);
    m_panel->SetActiveTab(0);
}

QFrame *FilterForm::AddTwoCodeRows(const QString &first, const QString &second, QWidget *after)
{
    QFrame *fraItem = AddFrame(QStringLiteral("fraItem"), 6480, 1200);
    AddCodeRow(fraItem, 405, 0, first, 0, 1, 0);
    AddCodeRow(fraItem, 765, 1, second, 2, 3, 1);
    for (int i : {0, 1, 2, 3}) {
        setTabOrder(after, txtItem[i]);
        after = txtItem[i];
    }
    return fraItem;
}

void FilterForm::LoadSteps()
{
    Guarded([this] { SetPanelReportID(); });
    Guarded([this] { CreateResult(); });
    Guarded([this] { ResetActiveTab(); });
}

void FilterForm::Guarded(const std::function<void()> &step)
{
    try {
        step();
    } catch (const std::exception &) {
        // The step is skipped; the next one runs.
    }
}

QFrame *FilterForm::AddFrame(const QString &name, int width, int height)
{
    auto *frame = new QFrame(this);
    frame->setObjectName(name);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFixedSize(Twips::Size(width, height));
    m_frames << frame;
    return frame;
}

QLabel *FilterForm::AddLabel(QWidget *frame, const QString &text, int left, int top, int width)
{
    auto *label = new QLabel(text, frame);
    label->setGeometry(Twips::Rect(left, top - 15, width, 255));
    return label;
}

QLineEdit *FilterForm::AddTextBox(QWidget *frame, int index, int left, int top, int width, int height)
{
    auto *box = new QLineEdit(frame);
    box->setObjectName(QLatin1String(FilterPanel::CodeBoxName));
    box->setProperty(FilterPanel::IndexProperty, index);
    box->setGeometry(Twips::Rect(left, top, width, height));
    // Its caption is the leftmost label of its row.
    const QLabel *caption = nullptr;
    for (const QLabel *label : frame->findChildren<QLabel *>(Qt::FindDirectChildrenOnly)) {
        const QRect g = label->geometry();
        if (g.right() < box->x() && g.center().y() >= box->y() && g.center().y() <= box->geometry().bottom()
            && (!caption || g.x() < caption->x()))
            caption = label;
    }
    if (caption)
        box->setProperty(FilterPanel::CaptionProperty, caption->text().remove(u' ').remove(u'\u3000'));
    txtItem[index] = box;
    return box;
}

QToolButton *FilterForm::AddLookupButton(QWidget *frame, int index, int left, int top, int boxIndex)
{
    auto *button = new QToolButton(frame);
    button->setObjectName(QLatin1String(FilterPanel::LookupButtonName));
    button->setProperty(FilterPanel::IndexProperty, boxIndex >= 0 ? boxIndex : index);
    button->setText(QStringLiteral("…"));
    button->setToolTip(QStringLiteral("选择"));
    button->setFocusPolicy(Qt::NoFocus);
    button->setGeometry(Twips::Rect(left, top, 315, 285));
    cmdItem[index] = button;
    return button;
}

void FilterForm::AddCodeRow(QWidget *frame, int top, int labelIndex, const QString &caption, int begin, int end,
                            int lineIndex, int endButton)
{
    lbl[labelIndex] = AddLabel(frame, caption, 165, top + 30);
    AddTextBox(frame, begin, 1200, top);
    AddLookupButton(frame, begin, 2880, top);
    if (end < 0)
        return;
    if (lineIndex >= 0)
        Line2[lineIndex] = AddLine(frame, 3405, 3825, top + 150);
    AddTextBox(frame, end, 4080, top);
    AddLookupButton(frame, endButton >= 0 ? endButton : end, 5760, top, end);
}

QFrame *FilterForm::AddLine(QWidget *frame, int x1, int x2, int y)
{
    auto *line = new QFrame(frame);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setGeometry(Twips::Rect(x1, y - 15, x2 - x1, 30));
    return line;
}

QDateTimeEdit *FilterForm::AddDatePicker(QWidget *frame, const QString &name, const QString &format, int left,
                                         int top, int width, int height)
{
    auto *picker = new QDateTimeEdit(frame);
    picker->setObjectName(name);
    // Chain times, not local ones: a time that daylight saving skips here can still be picked.
    // Values set on the picker are wall-clock ones (WallClock); others would be converted.
    picker->setTimeSpec(Qt::UTC);
    picker->setDisplayFormat(format);
    picker->setCalendarPopup(true);
    picker->setGeometry(Twips::Rect(left, top, width, height));
    return picker;
}

QCheckBox *FilterForm::AddCheckBox(QWidget *frame, const QString &name, const QString &text, int left, int top,
                                   int width, int height)
{
    auto *check = new QCheckBox(text, frame);
    check->setObjectName(name);
    check->setGeometry(Twips::Rect(left, top, width, height));
    return check;
}

QComboBox *FilterForm::AddComboBox(QWidget *frame, const QString &name, int left, int top, int width, int height)
{
    auto *combo = new QComboBox(frame);
    combo->setObjectName(name);
    combo->setGeometry(Twips::Rect(left, top, width, height));
    return combo;
}

void FilterForm::SetPickerFrom(QDateTimeEdit *picker, const QVariant &value)
{
    QDateTime when;
    try {
        when = VariantConvert::ToDateTime(value);
    } catch (const VelError &) {
        return;
    }
    if (when.isValid())
        picker->setDateTime(when);
}

void FilterForm::HideAll(std::initializer_list<QWidget *> controls)
{
    for (QWidget *w : controls)
        w->setVisible(false);
}

void FilterForm::HideBranchRow(std::initializer_list<QWidget *> row)
{
    HideAll(row);
    const QString branch = GetBranchNum();
    txtItem[0]->setText(branch);
    txtItem[1]->setText(branch);
}

void FilterForm::MoveUp(std::initializer_list<QWidget *> controls, int twips)
{
    for (QWidget *w : controls)
        w->move(w->x(), w->y() - Twips::ToPixels(twips));
}

QVariant FilterForm::CheckValue(const QCheckBox *box)
{
    return QVariant::fromValue(qint16(box->isChecked() ? 1 : 0));
}

QString FilterForm::Trimmed(const QLineEdit *box)
{
    return FilterRules::TrimSpaces(box->text());
}

int FilterForm::IndexOf(const QObject *ctrl)
{
    if (!ctrl)
        throw VelError(QStringLiteral("Object variable not set"), Vel::ErrObjectNotSet);
    const QVariant index = ctrl->property(FilterPanel::IndexProperty);
    return index.isValid() ? index.toInt() : -1;
}

bool FilterForm::AnswerBranchOrCard(int index, const QString &branchCondition, qint32 &LookupType, QString &Condition)
{
    switch (index) {
    case 0: case 1:
        LookupType = LookupKind::Branch;
        Condition = branchCondition;
        return true;
    case 2: case 3:
        LookupType = LookupKind::Card;
        Condition = QLatin1String(FilterText::CardNotDeleted);
        return true;
    default:
        return false;
    }
}

QString FilterForm::BranchCondition()
{
    return QLatin1String(GetSVCardShareType() ? FilterText::BranchHeadOnly : FilterText::BranchHeadNoTrade1);
}

void FilterForm::LoadBoxes(const DictionaryPtr &filter, std::initializer_list<std::pair<const char *, int>> keys)
{
    for (const auto &[key, index] : keys)
        txtItem[index]->setText(VariantConvert::ToText(filter->GetValue(QLatin1String(key), QString())));
}

void FilterForm::SaveBoxes(const DictionaryPtr &filter, std::initializer_list<std::pair<const char *, int>> keys)
{
    for (const auto &[key, index] : keys)
        Guarded([&] { filter->SetValue(QLatin1String(key), Trimmed(txtItem[index])); });
}
