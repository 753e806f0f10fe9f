#include "ReportFilterPanel.h"

#include "ComponentRegistry.h"
#include "Dictionary.h"
#include "LookupDialog.h"
#include "PeriodPresets.h"
#include "SchemeStore.h"
#include "ServerData.h"
#include "ShareProps.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QPushButton *makeButton(const QString &text, const char *name, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    // Enter in a field must never press a panel button behind the user's back.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

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
    auto *schemeBox = new QGroupBox(QStringLiteral("过滤方案"), this);
    m_schemes = new QListWidget(schemeBox);
    m_schemes->setObjectName(QStringLiteral("schemes"));
    auto *restore = makeButton(QStringLiteral("恢复"), "restoreScheme", schemeBox);
    auto *save = makeButton(QStringLiteral("保存"), "saveScheme", schemeBox);
    auto *saveAs = makeButton(QStringLiteral("另存为"), "saveSchemeAs", schemeBox);
    auto *rename = makeButton(QStringLiteral("重命名"), "renameScheme", schemeBox);
    auto *remove = makeButton(QStringLiteral("删除"), "deleteScheme", schemeBox);
    auto *schemeLayout = new QGridLayout(schemeBox);
    schemeLayout->addWidget(m_schemes, 0, 0, 1, 2);
    schemeLayout->addWidget(restore, 1, 0);
    schemeLayout->addWidget(save, 1, 1);
    schemeLayout->addWidget(saveAs, 2, 0);
    schemeLayout->addWidget(rename, 2, 1);
    schemeLayout->addWidget(remove, 3, 0);
    schemeBox->setFixedWidth(180);

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

    auto *reset = makeButton(QStringLiteral("重置"), "reset", this);
    auto *ok = makeButton(QStringLiteral("确定"), "confirm", this);
    auto *cancel = makeButton(QStringLiteral("取消"), "cancel", this);
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
    layout->addWidget(schemeBox);
    layout->addLayout(right, 1);

    connect(reset, &QPushButton::clicked, this, &ReportFilterPanel::Reset);
    connect(ok, &QPushButton::clicked, this, &ReportFilterPanel::Confirm);
    connect(cancel, &QPushButton::clicked, this, &ReportFilterPanel::Cancel);
    connect(restore, &QPushButton::clicked, this, [this] {
        const QString name = selectedScheme();
        if (!name.isEmpty())
            RestoreScheme(name);
    });
    connect(m_schemes, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) { RestoreScheme(item->text()); });
    connect(save, &QPushButton::clicked, this, &ReportFilterPanel::onSaveClicked);
    connect(saveAs, &QPushButton::clicked, this, &ReportFilterPanel::onSaveAsClicked);
    connect(rename, &QPushButton::clicked, this, &ReportFilterPanel::onRenameClicked);
    connect(remove, &QPushButton::clicked, this, &ReportFilterPanel::onDeleteClicked);
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

void ReportFilterPanel::Confirm()
{
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

void ReportFilterPanel::setStatus(const QString &text)
{
    m_status->setText(text);
    m_status->setVisible(!text.isEmpty());
}

QStringList ReportFilterPanel::SchemeNames() const
{
    return Store().Names(m_reportId);
}

void ReportFilterPanel::refreshSchemeList(const QString &select)
{
    m_schemes->clear();
    const QStringList names = SchemeNames();
    m_schemes->addItems(names);
    const int row = names.indexOf(select);
    if (row >= 0)
        m_schemes->setCurrentRow(row);
    // A file that cannot be written still lists and restores its schemes.
    const bool writable = Store().IsWritable();
    for (const char *name : {"saveScheme", "saveSchemeAs", "renameScheme", "deleteScheme"})
        if (auto *button = findChild<QPushButton *>(QLatin1String(name)))
            button->setEnabled(writable);
}

QString ReportFilterPanel::selectedScheme() const
{
    const QListWidgetItem *item = m_schemes->currentItem();
    return item ? item->text() : QString();
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

void ReportFilterPanel::onSaveClicked()
{
    const QString name = selectedScheme();
    if (name.isEmpty())
        onSaveAsClicked();
    else
        SaveScheme(name);
}

void ReportFilterPanel::onSaveAsClicked()
{
    bool ok = false;
    const QString name = QInputDialog::getText(this, QStringLiteral("另存为"), QStringLiteral("方案名称："),
                                               QLineEdit::Normal, QString(), &ok).trimmed();
    if (!ok || name.isEmpty())
        return;
    if (SchemeNames().contains(name)
        && QMessageBox::question(this, QStringLiteral("另存为"), QStringLiteral("已有方案“%1”，是否覆盖？").arg(name))
               != QMessageBox::Yes)
        return;
    SaveScheme(name);
}

void ReportFilterPanel::onRenameClicked()
{
    const QString from = selectedScheme();
    if (from.isEmpty())
        return;
    bool ok = false;
    const QString to = QInputDialog::getText(this, QStringLiteral("重命名"), QStringLiteral("新的方案名称："),
                                             QLineEdit::Normal, from, &ok).trimmed();
    if (ok && !to.isEmpty())
        RenameScheme(from, to);
}

void ReportFilterPanel::onDeleteClicked()
{
    const QString name = selectedScheme();
    if (name.isEmpty())
        return;
    if (QMessageBox::question(this, QStringLiteral("删除"), QStringLiteral("删除过滤方案“%1”？").arg(name)) == QMessageBox::Yes)
        DeleteScheme(name);
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
