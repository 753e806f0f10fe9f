#pragma once

#include <QGroupBox>
#include <QList>
#include <QStringList>

#include <functional>

class QListWidget;
class QPushButton;

// A panel button that Enter in a field never presses.
QPushButton *MakePanelButton(const QString &text, const char *name, QWidget *parent);

// The filter panel's scheme bar: the report's saved schemes and the buttons that restore,
// save, save as, rename and delete them. It asks the user for names and confirmations; the
// panel does the rest when a request is raised.
class SchemeBar : public QGroupBox
{
    Q_OBJECT

public:
    // `names` reads the schemes as stored now (to ask before overwriting one).
    SchemeBar(std::function<QStringList()> names, QWidget *parent);

    // Lists `names` and selects `select` when listed; the writing buttons only when `writable`.
    void SetSchemes(const QStringList &names, const QString &select, bool writable);
    QString Selected() const;

signals:
    void RestoreRequested(const QString &name);
    void SaveRequested(const QString &name);
    void RenameRequested(const QString &from, const QString &to);
    void DeleteRequested(const QString &name);

private:
    void onSaveClicked();
    void onSaveAsClicked();
    void onRenameClicked();
    void onDeleteClicked();

    std::function<QStringList()> m_names;
    QListWidget *m_schemes = nullptr;
    QList<QPushButton *> m_writing;
};
