#pragma once

#include <QDialog>
#include <QPointer>

class QLabel;
class QProgressBar;
class QPushButton;
#include "clsPass.h"

// The small modal progress window: a centred message line and a progress bar, hidden at first.
// It has no title text and no close button; only the relay's Unload closes it. Its activation
// raises the relay's Active. During a cancellable wait it grows a 取消 button, and that button
// or Esc asks the relay for the cancel; otherwise Esc does nothing.
class frmProgBar : public QDialog
{
    Q_OBJECT

public:
    explicit frmProgBar(QWidget *parent = nullptr);
    ~frmProgBar() override;

    clsPass *m_clsPass() const { return m_pass; }
    void SetClsPass(clsPass *pass);

    // The bar's range and position as the window keeps them (single precision, as set).
    float BarMinimum() const { return m_min; }
    float BarMaximum() const { return m_max; }
    float BarValue() const { return m_value; }
    bool IsBarVisible() const;
    QString Message() const;

    QLabel *lblMsg = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QLabel *Animation1 = nullptr;
    QPushButton *cmdCancel = nullptr;   // shown during a cancellable wait

public slots:
    void reject() override;   // Esc does not close the window

protected:
    bool event(QEvent *e) override;
    void showEvent(QShowEvent *e) override;
    void closeEvent(QCloseEvent *e) override;

private:
    void onSetBarMaxValue(qint32 value);
    void onSetBarMinValue(qint32 value);
    void onSetBarValue(qint32 value);
    void onSetBarValueWithMax();
    void onSetMsg(const QString &msg);
    void onShowProgBar(bool visible);
    void onUnload();
    void onCancellable(bool cancellable);
    void requestCancel();
    void activated();
    void applyBar();
    // Runs a handler; a refusal goes back to the relay's caller. Pending messages run afterwards.
    template <class F> void handle(F &&f);

    QPointer<clsPass> m_pass;
    float m_min = 0.0f;
    float m_max = 100.0f;
    float m_value = 0.0f;
    bool m_unloading = false;
    bool m_active = false;
    bool m_cancellable = false;
};
