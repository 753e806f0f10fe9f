#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QList>
#include <QString>

#include <mutex>
#include <optional>

struct sqlite3;

// The service's own SQLite file: users, sessions, bearer tokens, saved schemes and the audit
// log. Never the chain. One connection shared by the HTTP threads behind a lock.
class Store
{
public:
    struct User
    {
        QString name;
        QString branch;   // empty: head office
        QString email;
        bool disabled = false;
        QByteArray passwordHash;
    };
    struct Session
    {
        QString user;
        QByteArray csrf;
        qint64 created = 0;
        qint64 lastSeen = 0;
    };
    struct AuditEntry
    {
        QString user, address, action, report, filter, format;
        qint64 rows = -1;
        int status = 0;
    };

    // Opens or creates the file (mode 0600); throws VelError.
    explicit Store(const QString &path);
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // The default store file: in the service's data folder.
    static QString DefaultPath();

    void AddUser(const User &user);   // throws VelError when the name is taken
    bool SetPassword(const QString &name, const QByteArray &hash);
    bool SetDisabled(const QString &name, bool disabled);
    std::optional<User> FindUser(const QString &name) const;
    QList<User> Users() const;

    // Sessions and tokens are stored by the hash of their secret, never the secret itself.
    void AddSession(const QByteArray &idHash, const Session &session);
    std::optional<Session> FindSession(const QByteArray &idHash) const;
    void TouchSession(const QByteArray &idHash, qint64 now);
    void RemoveSession(const QByteArray &idHash);
    void RemoveSessionsBefore(qint64 lastSeen, qint64 created);
    void AddToken(const QByteArray &tokenHash, const QString &user);
    std::optional<QString> TokenUser(const QByteArray &tokenHash) const;

    // Saved filter schemes of one user and report; the filter as JSON text.
    QJsonArray Schemes(const QString &user, qint32 rptId) const;
    std::optional<QByteArray> Scheme(const QString &user, qint32 rptId, const QString &name) const;
    void SaveScheme(const QString &user, qint32 rptId, const QString &name, const QByteArray &filter);
    bool RemoveScheme(const QString &user, qint32 rptId, const QString &name);

    // Appends to the audit log, which refuses updates and deletes.
    void Audit(const AuditEntry &entry);
    QJsonArray AuditTail(int count) const;

private:
    class Statement;
    void exec(const char *sql) const;
    sqlite3 *m_db = nullptr;
    mutable std::mutex m_lock;
};
