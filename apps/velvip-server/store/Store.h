#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QList>
#include <QMap>
#include <QStringList>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>

class Database;

// The service's own store: users, sessions, bearer tokens, saved schemes, the audit log and
// scheduled deliveries. Never the chain. An SQLite file of its own, or a schema of a PostgreSQL
// database that several service instances share. One session shared by the HTTP threads behind a lock.
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
    struct Token
    {
        qint64 number = 0;   // what `token list` shows and `token revoke` takes
        QString user;
        qint64 created = 0;
        qint64 expires = 0;  // seconds since the epoch
    };
    struct AuditEntry
    {
        QString user, address, action, report, filter, format;
        qint64 rows = -1;
        int status = 0;
        qint64 bytes = -1;   // what the answer sent; -1 when not counted
        int cut = 0;         // an answer cut after its 200 went out: the status it ended with instead
    };

    // `location` is a file path (created mode 0600) or a connection text as --props takes it
    // ("Driver=PostgreSQL;…", optionally "Schema=NAME", default velvip_service). The tables are
    // created or brought up to date on first use. On PostgreSQL the connection's role owns them;
    // "ServiceRole=NAME" on the owner's text also grants that role what the service needs (the
    // audit log: read and append only). Throws VelError, never naming the password.
    explicit Store(const QString &location);
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // The default store file: in the service's data folder.
    static QString DefaultPath();

    void AddUser(const User &user);   // throws VelError when the name is taken
    bool SetPassword(const QString &name, const QByteArray &hash);
    bool SetDisabled(const QString &name, bool disabled);
    bool RemoveUser(const QString &name);   // with the user's sessions, tokens and schemes
    bool SetBranch(const QString &name, const QString &branch);
    std::optional<User> FindUser(const QString &name) const;
    QList<User> Users() const;

    // Sessions and tokens are stored by the hash of their secret, never the secret itself.
    void AddSession(const QByteArray &idHash, const Session &session);
    std::optional<Session> FindSession(const QByteArray &idHash) const;
    void TouchSession(const QByteArray &idHash, qint64 now);
    void RemoveSession(const QByteArray &idHash);
    void RemoveSessionsBefore(qint64 lastSeen, qint64 created);
    // The new token's number.
    qint64 AddToken(const QByteArray &tokenHash, const QString &user, qint64 expires);
    std::optional<Token> FindToken(const QByteArray &tokenHash) const;
    QList<Token> Tokens() const;
    bool RemoveToken(qint64 number);

    // Failed sign-ins, counted in the store so that every instance sharing it slows the same
    // address and user down: the count and the last failure's moment per key.
    struct FailureCount
    {
        int failures = 0;
        qint64 last = 0;
    };
    QMap<QString, FailureCount> SignInFailures(const QStringList &keys) const;
    // One more failure for each key; a count whose last failure is over `window` seconds old
    // starts again at 1, and such counts of other keys are forgotten.
    void AddSignInFailure(const QStringList &keys, qint64 now, qint64 window);
    void RemoveSignInFailures(const QStringList &keys);

    // Saved filter schemes of one user and report; the filter as JSON text.
    QJsonArray Schemes(const QString &user, qint32 rptId) const;
    std::optional<QByteArray> Scheme(const QString &user, qint32 rptId, const QString &name) const;
    void SaveScheme(const QString &user, qint32 rptId, const QString &name, const QByteArray &filter);
    bool RemoveScheme(const QString &user, qint32 rptId, const QString &name);

    // Scheduled deliveries: what to send when, and the log of each slot's sending.
    struct Schedule
    {
        qint64 id = 0;
        qint32 report = 0;
        QByteArray filter;       // the filter JSON, "period" in a relative form
        QString format;          // csv, xlsx, pdf
        bool perBranch = false;  // one message per branch, to that branch's users
        QStringList to;          // the addresses of a head-office message
        QString folder;          // also written here when set
        QString cron, zone;
        bool enabled = true;
        qint64 checkedUntil = 0; // slots up to this moment (seconds since 1970) are queued
    };
    // Where a delivery or one of its recipients stands. Kept in the store as the names
    // DeliveryStateName gives.
    enum class DeliveryState { Pending, Sending, Sent, FailedTransient, FailedPermanent, Skipped };
    static QString DeliveryStateName(DeliveryState state);
    static DeliveryState DeliveryStateOf(const QString &name);
    struct Delivery
    {
        qint64 schedule = 0;
        QString slot;            // the slot's wall-clock time in the schedule's zone
        QString branch;          // empty: the head-office message
        DeliveryState state = DeliveryState::Pending;
        int attempts = 0;
        qint64 nextTry = 0;
        QString error;
        qint64 rows = -1;
        qint64 updated = 0;
        QString owner;           // the sender holding it while it is being sent
    };
    // One address of a delivery, fixed when the slot is queued.
    struct Recipient
    {
        QString address;
        DeliveryState state = DeliveryState::Pending;
        QString reply;           // the mail server's own answer when it refused
        qint64 updated = 0;
    };
    qint64 AddSchedule(const Schedule &schedule);
    QList<Schedule> Schedules() const;
    std::optional<Schedule> FindSchedule(qint64 id) const;
    bool SetScheduleEnabled(qint64 id, bool enabled);
    void SetCheckedUntil(qint64 id, qint64 moment);
    // The e-mail addresses of the enabled users of each branch that have one.
    QMap<QString, QStringList> BranchAddresses() const;
    // Queues a delivery with its recipients, in one transaction, in place of the slot's skipped
    // mark if any; false when the same (schedule, slot, branch) is already there.
    bool AddDelivery(qint64 schedule, const QString &slot, const QString &branch, const QStringList &recipients,
                     qint64 now);
    // Logs a slot that came while the service was away longer than it catches up.
    void AddSkipped(qint64 schedule, const QString &slot, qint64 now);
    // Takes a due delivery for sending until `leaseUntil`: true for exactly one caller, however
    // many services share the store, which then owns it (delivery.owner is set). Due: pending, a
    // transient failure whose retry time came, or one whose sender's lease ran out.
    bool ClaimDelivery(Delivery &delivery, qint64 now, qint64 leaseUntil);
    // Extends the owner's lease; false when another sender took the delivery over.
    bool RenewLease(const Delivery &delivery, qint64 leaseUntil);
    // Ends the owner's sending; false (and nothing written) when it is no longer the owner.
    bool FinishDelivery(const Delivery &delivery);
    QList<Recipient> Recipients(const Delivery &delivery) const;
    void SetRecipient(const Delivery &delivery, const Recipient &recipient);
    // Sends a slot's failed deliveries again: their failed recipients become pending. The
    // number of deliveries queued again.
    int Resend(qint64 schedule, const QString &slot, qint64 now);
    // Deliveries of enabled schedules due at `now`, oldest first.
    QList<Delivery> DueDeliveries(qint64 now) const;
    // The earliest moment a queued or retrying delivery becomes due; 0 when none.
    qint64 NextDue() const;
    QList<Delivery> Deliveries(qint64 schedule, int count) const;
    // How many deliveries are in a state.
    qint64 CountDeliveries(DeliveryState state) const;

    // Appends to the audit log, which refuses updates and deletes.
    void Audit(const AuditEntry &entry);
    QJsonArray AuditTail(int count) const;

private:
    void open() const;
    void upgrade();
    // The sentence every store error is given, `detail` after it.
    static QString failure(const QString &detail);
    // Runs `work` on the session under the lock; once more on a new session when the server
    // dropped the old one (a PostgreSQL restart).
    template <typename Work>
    auto locked(Work &&work) const;
    // `work` inside one transaction under the lock.
    template <typename Work>
    auto transaction(Work &&work) const;

    QString m_text;     // the connection text; holds the password, never shown
    QString m_schema;   // PostgreSQL only
    QString m_serviceRole;
    bool m_postgres = false;
    mutable std::unique_ptr<Database> m_db;
    mutable std::mutex m_lock;
};
