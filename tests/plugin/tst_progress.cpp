#include "progress/Bar.h"
#include "progress/frmProgBar.h"

#include "VelError.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <functional>
#include <thread>

struct BarCase { int min; int max; int value; bool accepted; };

// The progress window's life cycle: Show blocks until Unload, Active drives the work.
class tst_Progress : public QObject
{
    Q_OBJECT

private:
    // Shows the bar and runs `work` in the first Active handler; a safety timer unloads the
    // window so that a faulty Bar fails the test instead of hanging it.
    static void runShown(Bar &bar, const std::function<void(Bar &)> &work)
    {
        bool ran = false;
        auto conn = connect(&bar, &Bar::Active, &bar, [&] {
            if (ran)
                return;
            ran = true;
            work(bar);
        });
        QTimer safety;
        safety.setSingleShot(true);
        connect(&safety, &QTimer::timeout, &bar, [&] {
            if (bar.IsShown())
                bar.Unload();
        });
        safety.start(5000);
        bar.Show();
        disconnect(conn);
        QVERIFY2(ran, "Active was never raised");
    }

private slots:
    // Show returns after Unload; a second Show starts again with a fresh window, whose bar the
    // commands drive.
    void showReturnsAfterUnload()
    {
        Bar bar;
        // Before Show (and after Unload) every command is refused.
        try {
            bar.SetMsg(QStringLiteral("x"));
            QFAIL("a command before Show must fail");
        } catch (const VelError &e) {
            QCOMPARE(e.Number(), qint32(Vel::ErrObjectNotSet));
        }
        QSignalSpy spy(&bar, &Bar::Active);
        QPointer<frmProgBar> window;
        runShown(bar, [&](Bar &b) {
            window = b.Window();
            b.SetMsg(QStringLiteral("正在连接服务器"));
            QCOMPARE(window->Message(), QStringLiteral("正在连接服务器"));
            b.Unload();
        });
        QVERIFY(!bar.IsShown());
        QVERIFY(window.isNull());
        QVERIFY_THROWS_EXCEPTION(VelError, bar.Unload());
        runShown(bar, [&](Bar &b) {
            frmProgBar *w = b.Window();
            QVERIFY(w->isModal());
            QCOMPARE(w->Message(), QString());
            QVERIFY(!w->IsBarVisible());
            b.ShowProgBar();
            QVERIFY(w->IsBarVisible());
            b.SetBarMaxValue(500);
            b.SetBarValueWithMax();
            QCOMPARE(w->BarValue(), 500.0f);
            QCOMPARE(w->ProgressBar1->value(), 500);
            b.SetBarValue(10);
            b.SetMsg(QStringLiteral("abc"));
            b.SetMsg(QString());
            QCOMPARE(w->lblMsg->text(), QString());
            b.HideProgBar();
            QVERIFY(!w->IsBarVisible());
            b.ShowProgBar();
            // Unload shows the bar full before the window goes.
            int valueAtClose = -1;
            connect(w, &QDialog::finished, w, [&] { valueAtClose = w->ProgressBar1->value(); });
            b.Unload();
            QCOMPARE(valueAtClose, 500);
        });
        QCOMPARE(spy.count(), 2);
    }

    // A cancellable wait shows the 取消 button; the button (then Esc) stops the work once.
    void cancelButton()
    {
        Bar bar;
        int interrupts = 0;
        bool cancelled = false;
        runShown(bar, [&](Bar &b) {
            frmProgBar *w = b.Window();
            QVERIFY(w->cmdCancel->isHidden());
            QTimer::singleShot(0, w, [w] {
                QVERIFY(w->cmdCancel->isVisible());
                w->cmdCancel->click();
                QTest::keyClick(w, Qt::Key_Escape);
            });
            std::atomic<bool> stop{false};
            cancelled = b.RunCancellable([&] {
                QDeadlineTimer deadline(5000);
                while (!stop && !deadline.hasExpired())
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }, [&] {
                ++interrupts;
                stop = true;
            });
            QVERIFY(w->isVisible());
            QVERIFY(w->cmdCancel->isHidden());
            b.Unload();
        });
        QVERIFY(cancelled);
        QCOMPARE(interrupts, 1);
    }

    void barValues()
    {
        const BarCase cases[] = {
            {0, 100, 40, true},                    // inside
            {0, 500, 500, true},                   // at maximum
            {0, 100, 101, false},                  // above maximum
            {10, 100, 9, false},                   // below minimum
            {0, (1 << 30), (1 << 25) + 1, true},   // large, within range
        };
        Bar bar;
        runShown(bar, [&](Bar &b) {
            for (const auto &[min, max, value, accepted] : cases) {
                b.SetBarMaxValue(max);
                b.SetBarMinValue(min);
                bool refused = false;
                try {
                    b.SetBarValue(value);
                } catch (const VelError &) {
                    refused = true;
                }
                QCOMPARE(refused, !accepted);
                // A maximum not above the minimum is refused either way round.
                QVERIFY_THROWS_EXCEPTION(VelError, b.SetBarMaxValue(min));
                QVERIFY_THROWS_EXCEPTION(VelError, b.SetBarMinValue(max));
                if (accepted)
                    QCOMPARE(b.Window()->BarValue(), float(value));
            }
            b.Unload();
        });
    }

    void activeOnEveryActivation()
    {
        Bar bar;
        QWidget other;
        int handled = 0;
        connect(&bar, &Bar::Active, &bar, [&] {
            ++handled;
            if (handled == 1) {
                // Let another window take the focus and give it back: a second activation.
                QTimer::singleShot(0, &other, [&] {
                    other.show();
                    other.activateWindow();
                    QApplication::setActiveWindow(&other);
                    QTimer::singleShot(0, bar.Window(), [&] {
                        QApplication::setActiveWindow(bar.Window());
                    });
                });
            } else if (bar.IsShown()) {
                bar.Unload();
            }
        });
        QTimer::singleShot(5000, &bar, [&] { if (bar.IsShown()) bar.Unload(); });
        bar.Show();
        other.hide();
        QCOMPARE(handled, 2);
    }
};

QTEST_MAIN(tst_Progress)
#include "tst_progress.moc"
