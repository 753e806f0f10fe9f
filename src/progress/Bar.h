#pragma once

#include <QObject>
#include <QString>

#include <functional>

class clsPass;
class frmProgBar;

// The progress proxy. Show runs the modal progress window and returns when the window has been
// unloaded; Active is raised whenever the window becomes active (the first time right after it
// is shown), and the caller does its work in that handler. Every other command goes to the window
// and lets pending window messages run before it returns. Commands issued without a window (before
// Show, after Unload) throw VelError (object not set); values the bar refuses throw VelError too.
class Bar : public QObject
{
    Q_OBJECT

public:
    explicit Bar(QObject *parent = nullptr);
    ~Bar() override;

    Q_INVOKABLE void Show();
    Q_INVOKABLE void ShowProgBar();
    Q_INVOKABLE void HideProgBar();
    Q_INVOKABLE void SetBarMaxValue(qint32 Value);
    Q_INVOKABLE void SetBarMinValue(qint32 Value);
    Q_INVOKABLE void SetBarValue(qint32 Value);
    Q_INVOKABLE void SetBarValueWithMax();
    Q_INVOKABLE void SetMsg(const QString &Msg);
    Q_INVOKABLE void Unload();

    // Runs `work` on a worker thread while the window goes on handling its events, and returns
    // when the work has ended; a failure of the work is rethrown here. Meanwhile the window
    // shows a 取消 button and takes Esc: either calls `interrupt` once, on this thread, which
    // must make the work end soon. Returns whether the user cancelled. Throws VelError (object
    // not set) without a window.
    bool RunCancellable(const std::function<void()> &work, const std::function<void()> &interrupt);

    // The window while it is shown, otherwise nullptr.
    frmProgBar *Window() const { return m_window; }
    bool IsShown() const { return m_window != nullptr; }

signals:
    void Active();

private:
    clsPass *relay() const;

    clsPass *m_pass = nullptr;
    frmProgBar *m_window = nullptr;
};

