#pragma once

#include "Types.h"

#include <QString>
#include <QStringList>

// Saved filter schemes per report in a small SQLite file. Every write is one transaction, so
// an interrupted write leaves the previous state. A file that is not a sound scheme database
// is moved aside (its name gets ".corrupt-<time>") and a fresh one is started; Warning() then
// says so. Values keep their types: 16/32/64-bit integers, double, bool, text, date-time.
class SchemeStore
{
public:
    // The default file: "filter-schemes.sqlite" in the user's application data folder.
    static QString DefaultPath();

    explicit SchemeStore(const QString &path = DefaultPath());
    ~SchemeStore();
    SchemeStore(const SchemeStore &) = delete;
    SchemeStore &operator=(const SchemeStore &) = delete;

    // False when the file could not be opened at all; Warning() tells why.
    bool IsOpen() const { return m_open; }
    // A message for the user about the last problem (file set aside, write failed), or empty.
    QString Warning() const { return m_warning; }
    QString Path() const { return m_path; }

    // Named schemes of a report, sorted by name.
    QStringList Names(qint32 reportId) const;
    bool Contains(qint32 reportId, const QString &name) const;
    // The stored filter, or nullptr when there is no such scheme.
    DictionaryPtr Load(qint32 reportId, const QString &name) const;
    // Replaces the scheme (or creates it). False on failure (Warning() tells why).
    bool Save(qint32 reportId, const QString &name, const Dictionary &filter);
    bool Rename(qint32 reportId, const QString &from, const QString &to);
    bool Remove(qint32 reportId, const QString &name);

    // The filter confirmed last for a report ("autosave").
    DictionaryPtr LoadLast(qint32 reportId) const;
    bool SaveLast(qint32 reportId, const Dictionary &filter);

private:
    enum Kind { Named = 0, Last = 1 };

    bool openFile();
    bool isSound() const;
    bool createSchema();
    void setAside(const QString &why);
    DictionaryPtr load(qint32 reportId, Kind kind, const QString &name) const;
    bool save(qint32 reportId, Kind kind, const QString &name, const Dictionary &filter);
    bool fail(const QString &what, const QString &detail) const;

    QString m_path;
    QString m_connection;
    bool m_open = false;
    mutable QString m_warning;
};
