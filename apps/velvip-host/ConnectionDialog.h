#pragma once

#include "ConnectionSettings.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;

// Chooses the database (the embedded demo chain, a SQLite file or a PostgreSQL server) and
// the host context the reports see.
class ConnectionDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ConnectionDialog(const ConnectionSettings &settings, QWidget *parent = nullptr);

    ConnectionSettings Settings() const;

    // Opens the connection the dialog describes beside the window, which says "正在测试…"
    // with 取消 meanwhile, then says whether it worked.
    void TestConnection();
    // Drops the test in progress: its outcome is not shown.
    void CancelTest();
    bool Testing() const { return m_testing; }
    // The outcome of the last test or check, as shown in the dialog.
    QString MessageText() const;

    // Refuses settings that cannot work (a SQLite file that does not exist, ...).
    void accept() override;

private:
    static QString problem(const ConnectionSettings &s);
    void showMessage(const QString &text, bool ok);
    void setTesting(bool testing);

    QComboBox *m_kind;
    QStackedWidget *m_pages;
    QLineEdit *m_sqlitePath;
    QLineEdit *m_host;
    QSpinBox *m_port;
    QLineEdit *m_database;
    QLineEdit *m_user;
    QLineEdit *m_password;
    QCheckBox *m_rememberPassword;
    QComboBox *m_appType;
    QCheckBox *m_isBranch;
    QCheckBox *m_shareCards;
    QLineEdit *m_branchNum;
    QLabel *m_message;
    QPushButton *m_test = nullptr;
    QPushButton *m_cancelTest = nullptr;
    bool m_testing = false;
    int m_testRun = 0;   // the test whose outcome is awaited
};
