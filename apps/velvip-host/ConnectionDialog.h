#pragma once

#include "ConnectionSettings.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
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

    void accept() override;

private:
    QComboBox *m_kind;
    QStackedWidget *m_pages;
    QLineEdit *m_sqlitePath;
    QLineEdit *m_host;
    QSpinBox *m_port;
    QLineEdit *m_database;
    QLineEdit *m_user;
    QLineEdit *m_password;
    QCheckBox *m_rememberPassword;
    QSpinBox *m_appType;
    QCheckBox *m_isBranch;
    QCheckBox *m_shareCards;
    QLineEdit *m_branchNum;
};
