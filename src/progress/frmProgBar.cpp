#include "frmProgBar.h"

#include "clsPass.h"
#include "dialog/Twips.h"

#include "VelError.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <cmath>
#include <limits>

namespace {
constexpr qint32 ErrInvalidPropertyValue = 380;

[[noreturn]] void refuse(const QString &what)
{
    throw VelError(QStringLiteral("Invalid property value: %1").arg(what), ErrInvalidPropertyValue,
                   QStringLiteral("ProgressBar1"));
}

int toBarInt(float v)
{
    const double d = std::nearbyint(double(v));
    if (d >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (d <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(d);
}
} // namespace

frmProgBar::frmProgBar(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("frmProgBar"));
    setWindowTitle(QString());
    setModal(true);
    setFont(QFont(QStringLiteral("宋体"), 9));
    setFixedSize(Twips::Size(6390, 870));

    lblMsg = new QLabel(this);
    lblMsg->setObjectName(QStringLiteral("lblMsg"));
    lblMsg->setAlignment(Qt::AlignCenter);
    lblMsg->setGeometry(Twips::Rect(180, 120, 6000, 330));

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(Twips::Rect(195, 480, 6000, 255));
    ProgressBar1->setTextVisible(false);
    ProgressBar1->hide();
    applyBar();

    // The animation control of the layout: present, never started.
    Animation1 = new QLabel(this);
    Animation1->setObjectName(QStringLiteral("Animation1"));
    Animation1->setGeometry(Twips::Rect(1620, 90, 3150, 600));
    Animation1->hide();

    cmdCancel = new QPushButton(QStringLiteral("取消"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setGeometry(Twips::Rect(5055, 870, 1140, 375));
    cmdCancel->setAutoDefault(false);
    cmdCancel->hide();
    connect(cmdCancel, &QPushButton::clicked, this, &frmProgBar::requestCancel);
}

frmProgBar::~frmProgBar() = default;

void frmProgBar::SetClsPass(clsPass *pass)
{
    if (m_pass)
        disconnect(m_pass, nullptr, this, nullptr);
    m_pass = pass;
    if (!pass)
        return;
    connect(pass, &clsPass::SetBarMaxValueEvent, this, &frmProgBar::onSetBarMaxValue);
    connect(pass, &clsPass::SetBarMinValueEvent, this, &frmProgBar::onSetBarMinValue);
    connect(pass, &clsPass::SetBarValueEvent, this, &frmProgBar::onSetBarValue);
    connect(pass, &clsPass::SetBarValueWithMaxEvent, this, &frmProgBar::onSetBarValueWithMax);
    connect(pass, &clsPass::SetMsgEvent, this, &frmProgBar::onSetMsg);
    connect(pass, &clsPass::ShowProgBarEvent, this, [this] { onShowProgBar(true); });
    connect(pass, &clsPass::HideProgBarEvent, this, [this] { onShowProgBar(false); });
    connect(pass, &clsPass::UnloadEvent, this, &frmProgBar::onUnload);
    connect(pass, &clsPass::CancellableEvent, this, &frmProgBar::onCancellable);
}

bool frmProgBar::IsBarVisible() const { return !ProgressBar1->isHidden(); }
QString frmProgBar::Message() const { return lblMsg->text(); }

template <class F>
void frmProgBar::handle(F &&f)
{
    try {
        f();
    } catch (...) {
        if (m_pass)
            m_pass->Fail(std::current_exception());
    }
    QCoreApplication::processEvents();
}

void frmProgBar::applyBar()
{
    ProgressBar1->setRange(toBarInt(m_min), toBarInt(m_max));
    ProgressBar1->setValue(toBarInt(m_value));
}

void frmProgBar::onSetBarMaxValue(qint32 value)
{
    handle([&] {
        const float max = float(value);
        if (!(max > m_min))
            refuse(QStringLiteral("the maximum %1 is not above the minimum").arg(value));
        m_max = max;
        m_value = std::min(m_value, m_max);
        applyBar();
    });
}

void frmProgBar::onSetBarMinValue(qint32 value)
{
    handle([&] {
        const float min = float(value);
        if (!(min < m_max))
            refuse(QStringLiteral("the minimum %1 is not below the maximum").arg(value));
        m_min = min;
        m_value = std::max(m_value, m_min);
        applyBar();
    });
}

void frmProgBar::onSetBarValue(qint32 value)
{
    handle([&] {
        const float v = float(value);
        if (v < m_min || v > m_max)
            refuse(QStringLiteral("the value %1 lies outside the bar's range").arg(value));
        m_value = v;
        applyBar();
    });
}

void frmProgBar::onSetBarValueWithMax()
{
    handle([&] {
        m_value = m_max;
        applyBar();
    });
}

void frmProgBar::onSetMsg(const QString &msg)
{
    handle([&] { lblMsg->setText(msg); });
}

void frmProgBar::onShowProgBar(bool visible)
{
    handle([&] { ProgressBar1->setVisible(visible); });
}

void frmProgBar::onUnload()
{
    handle([&] {
        m_value = m_max;
        applyBar();
        QCoreApplication::processEvents();
        m_unloading = true;
        done(QDialog::Accepted);
    });
}

void frmProgBar::onCancellable(bool cancellable)
{
    // The button gets a row of its own below the bar.
    m_cancellable = cancellable;
    setFixedSize(Twips::Size(6390, cancellable ? 1380 : 870));
    cmdCancel->setEnabled(true);
    cmdCancel->setVisible(cancellable);
}

void frmProgBar::requestCancel()
{
    if (!m_cancellable || !cmdCancel->isEnabled())
        return;
    cmdCancel->setEnabled(false);
    lblMsg->setText(QStringLiteral("正在取消……"));
    if (m_pass)
        m_pass->Cancel();
}

void frmProgBar::activated()
{
    // One activation raises Active once, whether the platform or the fallback reported it.
    if (m_active || !isVisible() || m_unloading)
        return;
    m_active = true;
    if (m_pass)
        m_pass->SetActive();
}

bool frmProgBar::event(QEvent *e)
{
    if (e->type() == QEvent::WindowActivate)
        activated();
    else if (e->type() == QEvent::WindowDeactivate)
        m_active = false;
    return QDialog::event(e);
}

void frmProgBar::showEvent(QShowEvent *e)
{
    QDialog::showEvent(e);
    m_active = false;
    // A platform that does not activate a shown window (the offscreen one may not) still gets
    // its first activation, from the event loop; a real one arriving first makes this a no-op.
    QMetaObject::invokeMethod(this, [this] { activated(); }, Qt::QueuedConnection);
}

void frmProgBar::closeEvent(QCloseEvent *e)
{
    if (!m_unloading)
        e->ignore();
    else
        QDialog::closeEvent(e);
}

void frmProgBar::reject()
{
    if (m_unloading)
        QDialog::reject();
    else
        requestCancel();
}
