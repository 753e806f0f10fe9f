#include "Bar.h"

#include "clsPass.h"
#include "frmProgBar.h"

#include "VelError.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <memory>
#include <thread>

Bar::Bar(QObject *parent) : QObject(parent) {}

Bar::~Bar() = default;

clsPass *Bar::relay() const
{
    if (!m_pass)
        throw VelError(QStringLiteral("Object variable not set: the progress window is not shown"),
                       Vel::ErrObjectNotSet, QStringLiteral("Bar"));
    return m_pass;
}

void Bar::Show()
{
    // The relay and the window live for this Show; Unload drops the Bar's references to them,
    // and they are destroyed when the modal display has ended.
    auto pass = std::make_unique<clsPass>();
    auto window = std::make_unique<frmProgBar>();
    connect(pass.get(), &clsPass::Active, this, &Bar::Active);
    window->SetClsPass(pass.get());
    m_pass = pass.get();
    m_window = window.get();
    window->exec();
    if (m_window == window.get()) {
        m_window = nullptr;
        m_pass = nullptr;
    }
}

void Bar::ShowProgBar() { relay()->ShowProgBar(); }
void Bar::HideProgBar() { relay()->HideProgBar(); }
void Bar::SetBarMaxValue(qint32 Value) { relay()->SetBarMaxValue(Value); }
void Bar::SetBarMinValue(qint32 Value) { relay()->SetBarMinValue(Value); }
void Bar::SetBarValue(qint32 Value) { relay()->SetBarValue(Value); }
void Bar::SetBarValueWithMax() { relay()->SetBarValueWithMax(); }
void Bar::SetMsg(const QString &Msg) { relay()->SetMsg(Msg); }

bool Bar::RunCancellable(const std::function<void()> &work, const std::function<void()> &interrupt)
{
    clsPass *pass = relay();
    QEventLoop loop;
    bool cancelled = false;
    const auto connection = connect(pass, &clsPass::CancelRequested, this, [&] {
        if (!std::exchange(cancelled, true))
            interrupt();
    });
    pass->SetCancellable(true);
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    disconnect(connection);
    pass->SetCancellable(false);
    if (failure)
        std::rethrow_exception(failure);
    return cancelled;
}

void Bar::Unload()
{
    relay()->Unload();
    m_window = nullptr;
    m_pass = nullptr;
    QCoreApplication::processEvents();
}
