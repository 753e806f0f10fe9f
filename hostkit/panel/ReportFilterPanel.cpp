#include "ReportFilterPanel.h"

#include "ComponentRegistry.h"
#include "Dictionary.h"
#include "LookupDialog.h"
#include "PeriodPresets.h"
#include "SchemeBar.h"
#include "SchemeStore.h"
#include "ServerData.h"
#include "ShareProps.h"
#include "FilterRules.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QValidator>
#include <QVBoxLayout>

namespace {

QString propsString()
{
    std::unique_ptr<QObject> owner;
    auto *store = ComponentRegistry::Instance().CreateAs<ISharePropsStore>(QLatin1String(Vel::SharePropsProgId), owner);
    qint32 pid = qint32(QCoreApplication::applicationPid());
    QString name = QStringLiteral("PropsString");
    return store->GetProperty(pid, name).toString();
}

QString displayValue(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Bool: return v.toBool() ? QStringLiteral("是") : QStringLiteral("否");
    case QMetaType::QDateTime: return v.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case QMetaType::QDate: return v.toDate().toString(QStringLiteral("yyyy-MM-dd"));
    default: return v.toString();
    }
}

// The box's caption, or its index where the dialog gave none.
QString captionOf(const QLineEdit *box)
{
    const QString caption = box->property(FilterPanel::CaptionProperty).toString();
    return caption.isEmpty() ? QStringLiteral("第 %1 项").arg(box->property(FilterPanel::IndexProperty).toInt()) : caption;
}

// Refuses at entry a text the run would refuse; the sentence waits for the panel to show it.
class TextRuleValidator : public QValidator
{
public:
    TextRuleValidator(QLineEdit *box) : QValidator(box), m_box(box) {}
    State validate(QString &input, int &) const override
    {
        m_problem = FilterRules::TextProblem(captionOf(m_box), input);
        return m_problem.isEmpty() ? Acceptable : Invalid;
    }
    QString Problem() const { return m_problem; }

private:
    QLineEdit *m_box;
    mutable QString m_problem;
};

} // namespace

ReportFilterPanel::ReportFilterPanel(QWidget *parent)
    : FilterPanel(parent)
{
    setObjectName(QStringLiteral("ReportFilterPanel"));
    m_settings.insert(QStringLiteral("autosave"), true);
    buildUi();
}

ReportFilterPanel::~ReportFilterPanel() = default;

void ReportFilterPanel::buildUi()
{
    m_schemeBar = new SchemeBar([this] { return SchemeNames(); }, this);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("pages"));
    auto *page = new QWidget(m_tabs);
    m_pageLayout = new QVBoxLayout(page);
    m_pageLayout->setContentsMargins(8, 8, 8, 8);
    m_pageLayout->setSpacing(6);
    m_pageLayout->addStretch(1);
    m_tabs->addTab(page, QStringLiteral("过滤条件"));

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    m_status->setStyleSheet(QStringLiteral("color: #a00000;"));
    m_status->hide();

    auto *reset = MakePanelButton(QStringLiteral("重置"), "reset", this);
    auto *ok = MakePanelButton(QStringLiteral("确定"), "confirm", this);
    auto *cancel = MakePanelButton(QStringLiteral("取消"), "cancel", this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(reset);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto *right = new QVBoxLayout;
    right->addWidget(m_tabs, 1);
    right->addWidget(m_status);
    right->addLayout(buttons);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(m_schemeBar);
    layout->addLayout(right, 1);

    connect(reset, &QPushButton::clicked, this, &ReportFilterPanel::Reset);
    connect(ok, &QPushButton::clicked, this, &ReportFilterPanel::Confirm);
    connect(cancel, &QPushButton::clicked, this, &ReportFilterPanel::Cancel);
    connect(m_schemeBar, &SchemeBar::RestoreRequested, this, &ReportFilterPanel::RestoreScheme);
    connect(m_schemeBar, &SchemeBar::SaveRequested, this, &ReportFilterPanel::SaveScheme);
    connect(m_schemeBar, &SchemeBar::RenameRequested, this, &ReportFilterPanel::RenameScheme);
    connect(m_schemeBar, &SchemeBar::DeleteRequested, this, &ReportFilterPanel::DeleteScheme);
}

void ReportFilterPanel::SetReportID(qint32 id)
{
    m_reportId = id;
    if (m_store)
        refreshSchemeList();
}

qint32 ReportFilterPanel::ActiveTab() const
{
    return m_tabs->currentIndex();
}

void ReportFilterPanel::SetActiveTab(qint32 tab)
{
    m_tabs->setCurrentIndex(qBound(0, tab, m_tabs->count() - 1));
}

void ReportFilterPanel::SetSetting(const QString &name, const QVariant &value)
{
    m_settings.insert(name.toLower(), value);
    if (name.endsWith(QLatin1String(":controlname"), Qt::CaseInsensitive) || name.compare(QLatin1String("limitmindate"), Qt::CaseInsensitive) == 0)
        arrangeFrames();
}

QVariant ReportFilterPanel::Setting(const QString &name) const
{
    return m_settings.value(name.toLower());
}

bool ReportFilterPanel::autosave() const
{
    return Setting(QStringLiteral("autosave")).toBool();
}

void ReportFilterPanel::AddFrame(QWidget *frame)
{
    if (!frame || m_frames.contains(frame))
        return;
    m_frames.append(frame);
    const auto buttons = frame->findChildren<QAbstractButton *>(QLatin1String(LookupButtonName));
    for (QAbstractButton *button : buttons) {
        if (auto *push = qobject_cast<QPushButton *>(button))
            push->setAutoDefault(false);
        connect(button, &QAbstractButton::clicked, this, [this, button] { openLookup(button); });
    }
    for (QLineEdit *box : frame->findChildren<QLineEdit *>(QLatin1String(CodeBoxName))) {
        auto *rule = new TextRuleValidator(box);
        box->setValidator(rule);
        connect(box, &QLineEdit::inputRejected, this, [this, rule] { setStatus(rule->Problem(), true); });
        // The sentence goes once the box holds what the run takes.
        connect(box, &QLineEdit::textChanged, this, [this] {
            if (m_fieldStatus && fieldProblem(nullptr).isEmpty())
                setStatus(QString());
        });
    }
    arrangeFrames();
}

// The date page's frame first, then the code page's frame, then the dialog's other frames in
// the order they were added.
void ReportFilterPanel::arrangeFrames()
{
    QList<QWidget *> ordered;
    auto named = [this](const char *setting) -> QWidget * {
        const QString name = Setting(QLatin1String(setting)).toString();
        if (name.isEmpty())
            return nullptr;
        for (const auto &f : m_frames)
            if (f && f->objectName() == name)
                return f;
        return nullptr;
    };
    QWidget *dateFrame = named("date:controlname");
    for (QWidget *f : {dateFrame, named("ccode:controlname")})
        if (f)
            ordered << f;
    for (const auto &f : m_frames)
        if (f && !ordered.contains(f.data()))
            ordered << f.data();

    while (m_pageLayout->count() > 0)
        delete m_pageLayout->takeAt(0);
    QWidget *page = m_pageLayout->parentWidget();
    for (QWidget *f : ordered) {
        if (f->parentWidget() != page)
            f->setParent(page);
        m_pageLayout->addWidget(f, 0, Qt::AlignLeft | Qt::AlignTop);
        f->show();
        if (f == dateFrame) {
            // Period presets right under the date page's frame, built for its pickers.
            if (m_presetsFrame != f) {
                delete m_presets;
                m_presets = PeriodPresets::For(f, page);
                m_presetsFrame = f;
            }
            if (m_presets)
                m_pageLayout->addWidget(m_presets, 0, Qt::AlignLeft | Qt::AlignTop);
        }
    }
    m_pageLayout->addStretch(1);

    if (Setting(QStringLiteral("limitmindate")).toBool()) {
        for (QWidget *f : ordered)
            for (auto *edit : f->findChildren<QDateTimeEdit *>())
                edit->setMinimumDate(QDate(1900, 1, 1));
    }
}

DictionaryPtr ReportFilterPanel::GetFilter()
{
    DictionaryPtr filter = Dictionary::Create();
    emit SaveFilter(filter);
    return filter;
}

QString ReportFilterPanel::GetFilterString(qint32 kind)
{
    Q_UNUSED(kind); // one text form serves every kind
    const DictionaryPtr filter = GetFilter();
    QStringList parts;
    if (filter) {
        for (const QString &key : filter->Keys()) {
            const QString value = displayValue(filter->Value(key));
            if (!value.isEmpty())
                parts << key + QLatin1Char('=') + value;
        }
    }
    return parts.join(QStringLiteral("; "));
}

bool ReportFilterPanel::raise(const std::function<void()> &event)
{
    try {
        event();
        return true;
    } catch (const std::exception &e) {
        setStatus(QStringLiteral("过滤条件处理失败：%1").arg(QString::fromUtf8(e.what())));
        return false;
    }
}

QString ReportFilterPanel::fieldProblem(QLineEdit **where) const
{
    for (const auto &frame : m_frames) {
        if (!frame)
            continue;
        for (QLineEdit *box : frame->findChildren<QLineEdit *>(QLatin1String(CodeBoxName)))
            if (const QString problem = FilterRules::TextProblem(captionOf(box), box->text()); !problem.isEmpty()) {
                if (where)
                    *where = box;
                return problem;
            }
    }
    return {};
}

void ReportFilterPanel::Confirm()
{
    // A value restored from a scheme is not checked on entry.
    QLineEdit *bad = nullptr;
    if (const QString problem = fieldProblem(&bad); !problem.isEmpty()) {
        setStatus(problem, true);
        if (bad->isVisibleTo(window()))
            bad->setFocus();
        return;
    }
    qint16 cancel = 0;
    if (!raise([&] { emit FilterConfirmed(cancel); }) || cancel != 0)
        return;
    if (autosave()) {
        DictionaryPtr filter;
        raise([&] { filter = GetFilter(); });
        if (filter && !Store().SaveLast(m_reportId, *filter))
            setStatus(Store().Warning());
    }
    closeDialog(QDialog::Accepted);
}

void ReportFilterPanel::Cancel()
{
    closeDialog(QDialog::Rejected);
}

void ReportFilterPanel::Reset()
{
    raise([this] { emit ResetFilter(); });
}

void ReportFilterPanel::closeDialog(int code)
{
    QWidget *w = window();
    if (auto *dialog = qobject_cast<QDialog *>(w))
        dialog->done(code);
    else if (w != this)
        w->hide();
    else
        hide();
}

void ReportFilterPanel::showEvent(QShowEvent *event)
{
    FilterPanel::showEvent(event);
    if (m_restoredOnShow)
        return;
    m_restoredOnShow = true;
    refreshSchemeList();
    DictionaryPtr last = autosave() ? Store().LoadLast(m_reportId) : nullptr;
    if (!Store().Warning().isEmpty())
        setStatus(Store().Warning());
    // Without a remembered filter the dialog gets back what it shows now, so its defaults stay
    // and its restore-time layout still runs. A form may save its pickers coarser than they
    // show (whole minutes ending at :59), so the pickers keep what the form's load set.
    raise([&] {
        if (last) {
            emit LoadFilter(last);
            return;
        }
        QList<std::pair<QDateTimeEdit *, QDateTime>> pickers;
        for (const auto &frame : std::as_const(m_frames))
            if (frame)
                for (QDateTimeEdit *picker : frame->findChildren<QDateTimeEdit *>())
                    pickers.append({picker, picker->dateTime()});
        last = GetFilter();
        emit LoadFilter(last);
        for (const auto &[picker, shown] : pickers)
            picker->setDateTime(shown);
    });
}

SchemeStore &ReportFilterPanel::Store() const
{
    if (!m_store)
        m_store = std::make_unique<SchemeStore>();
    return *m_store;
}

QString ReportFilterPanel::StatusText() const
{
    return m_status->isHidden() ? QString() : m_status->text();
}

void ReportFilterPanel::setStatus(const QString &text, bool field)
{
    m_fieldStatus = field;
    m_status->setText(text);
    m_status->setVisible(!text.isEmpty());
}

QStringList ReportFilterPanel::SchemeNames() const
{
    return Store().Names(m_reportId);
}

void ReportFilterPanel::refreshSchemeList(const QString &select)
{
    // Read first: reading is what finds a file that cannot be written.
    const QStringList names = SchemeNames();
    m_schemeBar->SetSchemes(names, select, Store().IsWritable());
}

bool ReportFilterPanel::SaveScheme(const QString &name)
{
    DictionaryPtr filter;
    if (!raise([&] { filter = GetFilter(); }))
        return false;
    const bool ok = filter && Store().Save(m_reportId, name.trimmed(), *filter);
    setStatus(ok ? QString() : Store().Warning());
    refreshSchemeList(name.trimmed());
    return ok;
}

bool ReportFilterPanel::RestoreScheme(const QString &name)
{
    DictionaryPtr filter = Store().Load(m_reportId, name);
    if (!filter) {
        setStatus(QStringLiteral("找不到过滤方案：%1").arg(name));
        return false;
    }
    setStatus(QString());
    return raise([&] { emit LoadFilter(filter); });
}

bool ReportFilterPanel::RenameScheme(const QString &from, const QString &to)
{
    const bool ok = Store().Rename(m_reportId, from, to.trimmed());
    setStatus(ok ? QString() : Store().Warning());
    refreshSchemeList(ok ? to.trimmed() : from);
    return ok;
}

bool ReportFilterPanel::DeleteScheme(const QString &name)
{
    const bool ok = Store().Remove(m_reportId, name);
    setStatus(ok ? QString() : Store().Warning());
    refreshSchemeList();
    return ok;
}

QLineEdit *ReportFilterPanel::codeBoxFor(qint32 index) const
{
    const auto boxes = window()->findChildren<QLineEdit *>(QLatin1String(CodeBoxName));
    for (QLineEdit *box : boxes) {
        const QVariant v = box->property(IndexProperty);
        if (v.isValid() && v.toInt() == index)
            return box;
    }
    return nullptr;
}

void ReportFilterPanel::openLookup(QAbstractButton *button)
{
    const qint32 index = button->property(IndexProperty).toInt();
    qint32 lookupType = 0;
    QString condition;
    QVariant extra;
    if (!raise([&] { emit GetLookupInfo(button, lookupType, condition, extra); }))
        return;
    QLineEdit *box = codeBoxFor(index);
    if (lookupType == 0 || !box)
        return; // the dialog names no base data for this button

    LookupDialog dialog(LookupDialog::TitleFor(lookupType),
                        [lookupType, condition](const QString &searchText) {
                            std::unique_ptr<QObject> owner;
                            auto *data = ComponentRegistry::Instance().CreateAs<IServerData>(
                                QLatin1String(Vel::ServerDataProgId), owner);
                            return data->GetLookupList(propsString(), lookupType, condition, searchText);
                        },
                        window());
    if (dialog.exec() == QDialog::Accepted && !dialog.ChosenCode().isEmpty()) {
        box->setText(dialog.ChosenCode());
        box->setFocus();
    }
}

void RegisterFilterPanelComponent()
{
    ComponentRegistry::Instance().Register(QLatin1String(Vel::FilterPanelProgId),
                                           [] { return new ReportFilterPanel; });
}
