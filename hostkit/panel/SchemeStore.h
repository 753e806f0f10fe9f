#pragma once

#include "Types.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

class QSqlError;
class QSqlQuery;

// Saved filter schemes per report in a small SQLite file that every process of the user
// shares (two desktop hosts open at once is normal). Reading never writes: the file is opened
// read-only, and for writing only when a write comes. Each write is one transaction that takes
// the write lock at its start; while another process holds the file, the write waits and is
// retried up to a bounded wait, then fails with a message and loses nothing already saved.
// A busy or locked file is never taken for a damaged one: only a file SQLite reports as
// corrupt or as not a database, or one that is not ours, is set aside as ".corrupt-<time>".
// A file made by a newer version, a read-only file and a full disk still list and restore
// their schemes; ReadOnlyReason() says why saving is not possible.
// Values keep their types: 16/32/64-bit integers, double, bool, text, date-time.
class SchemeStore
{
public:
    // How long a read or a write waits for another process to release the file.
    static constexpr int DefaultBusyWaitMs = 5000;

    // The default file: "filter-schemes.sqlite" in the user's application data folder.
    static QString DefaultPath();

    explicit SchemeStore(const QString &path = DefaultPath(), int busyWaitMs = DefaultBusyWaitMs);
    ~SchemeStore();
    SchemeStore(const SchemeStore &) = delete;
    SchemeStore &operator=(const SchemeStore &) = delete;

    // False when saving is not possible; ReadOnlyReason() then tells the user why.
    bool IsWritable() const { return m_readOnlyReason.isEmpty(); }
    QString ReadOnlyReason() const { return m_readOnlyReason; }
    // A message for the user about the last problem (file set aside, busy, write failed), or empty.
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
    enum class Mode { Closed, ReadOnly, ReadWrite };
    // What a write step reports: done, refused for a reason of its own (message set), or an
    // SQL error to classify.
    enum class Step { Done, Refused, SqlError };

    bool open(Mode mode, QSqlError &error) const;
    void close() const;
    bool openForReading() const;
    bool checkFile(QSqlError &error) const;
    bool tablesExist() const;
    void setAside(const QString &why) const;
    bool write(const QString &what, const std::function<Step(QSqlQuery &)> &body);
    Step createSchema(QSqlQuery &q);
    bool writeFailed(const QString &what, const QSqlError &error);
    bool readFailed(const QSqlError &error) const;
    DictionaryPtr load(qint32 reportId, Kind kind, const QString &name) const;
    bool save(qint32 reportId, Kind kind, const QString &name, const Dictionary &filter);
    bool fail(const QString &what, const QString &detail) const;

    QString m_path;
    QString m_connection;
    int m_busyWaitMs;
    // The bound and the clock of the current wait for another process's lock.
    mutable std::pair<int, QElapsedTimer> m_busyWait;
    mutable Mode m_mode = Mode::Closed;
    mutable QString m_readOnlyReason;
    mutable QString m_warning;
};
