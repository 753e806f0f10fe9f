#pragma once

#include <QObject>
#include <QString>

#include <exception>

// The relay between one Bar and one progress window. Each command becomes a notification that
// the window handles; the window's activation becomes Active, which the Bar handles. A handler
// that refuses a command hands the failure back with Fail(), and the command rethrows it to its
// caller, so no exception ever travels through Qt's signal machinery.
class clsPass : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    void HideProgBar();
    void SetActive();
    void SetBarMaxValue(qint32 Value);
    void SetBarMinValue(qint32 Value);
    void SetBarValue(qint32 Value);
    void SetBarValueWithMax();
    void SetMsg(const QString &Msg);
    void ShowProgBar();
    void Unload();
    // Beyond the relay's commands: a cancellable wait shows or hides the window's 取消 button
    // and lets Esc through; the window asks for the cancel with Cancel().
    void SetCancellable(bool cancellable) { emit CancellableEvent(cancellable); }
    void Cancel() { emit CancelRequested(); }

    // Called by a handler that refuses the notification it is handling.
    void Fail(std::exception_ptr failure) { m_failure = std::move(failure); }

signals:
    void SetBarMaxValueEvent(qint32 Value);
    void SetBarMinValueEvent(qint32 Value);
    void SetBarValueEvent(qint32 Value);
    void SetMsgEvent(const QString &Msg);
    void SetBarValueWithMaxEvent();
    void UnloadEvent();
    void Active();
    void HideProgBarEvent();
    void ShowProgBarEvent();
    void CancellableEvent(bool cancellable);
    void CancelRequested();

private:
    void rethrowFailure();

    std::exception_ptr m_failure;
};
