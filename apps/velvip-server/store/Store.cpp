#include "Store.h"

#include "Database.h"
#include "RowCursor.h"
#include "VelError.h"

#include <QDateTime>
#include <QJsonObject>
#include <QRandomGenerator>

#include <iterator>

// The store's queries: users, sessions, tokens, schemes, the audit log, schedules and
// deliveries, each under the session's lock.
namespace {

// Rows of one statement as owned values.
QString text(const RowCursor &rows, int c)
{
    return rows.Text(c).toString();
}

// A text to bind: empty, never NULL (a null QString binds as NULL).
QString value(const QString &text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

QString hex(const QByteArray &hash)
{
    return QString::fromLatin1(hash.toHex());
}

} // namespace

template <typename Work>
auto Store::locked(Work &&work) const
{
    std::lock_guard guard(m_lock);
    try {
        try {
            if (!m_db)
                open();
            return work(*m_db);
        } catch (const VelError &) {
            // A session the server dropped is opened anew and the work runs once more.
            if (!m_postgres || !m_db)
                throw;
            try {
                m_db->Exec(QStringLiteral("SELECT 1"));
            } catch (const VelError &) {
                open();
                return work(*m_db);
            }
            throw;
        }
    } catch (const VelError &e) {
        if (e.Description().startsWith(failure({})))
            throw;
        throw VelError(failure(e.Description()));
    }
}

template <typename Work>
auto Store::transaction(Work &&work) const
{
    return locked([&](const Database &db) {
        db.Exec(m_postgres ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"));
        try {
            auto result = work(db);
            db.Exec(QStringLiteral("COMMIT"));
            return result;
        } catch (const VelError &) {
            try {
                db.Exec(QStringLiteral("ROLLBACK"));
            } catch (const VelError &) {
            }
            throw;
        }
    });
}

void Store::AddUser(const User &user)
{
    const qint64 added = locked([&](const Database &db) {
        return db.Exec(QStringLiteral("INSERT INTO users (name, password, branch, email) VALUES (?, ?, ?, ?) "
                                      "ON CONFLICT DO NOTHING"),
                       {value(user.name), QString::fromLatin1(user.passwordHash), value(user.branch), value(user.email)});
    });
    if (added == 0)
        throw VelError(QStringLiteral("用户“%1”已存在").arg(user.name));
}

bool Store::SetPassword(const QString &name, const QByteArray &hash)
{
    return locked([&](const Database &db) {
        const bool found = db.Exec(QStringLiteral("UPDATE users SET password = ? WHERE name = ?"),
                                   {QString::fromLatin1(hash), name}) > 0;
        // A new password ends the user's sessions and tokens.
        db.Exec(QStringLiteral("DELETE FROM sessions WHERE \"user\" = ?"), {name});
        db.Exec(QStringLiteral("DELETE FROM tokens WHERE \"user\" = ?"), {name});
        return found;
    });
}

bool Store::SetDisabled(const QString &name, bool disabled)
{
    return locked([&](const Database &db) {
        const bool found = db.Exec(QStringLiteral("UPDATE users SET disabled = ? WHERE name = ?"),
                                   {qint64(disabled), name}) > 0;
        db.Exec(QStringLiteral("DELETE FROM sessions WHERE \"user\" = ?"), {name});
        db.Exec(QStringLiteral("DELETE FROM tokens WHERE \"user\" = ?"), {name});
        return found;
    });
}

bool Store::RemoveUser(const QString &name)
{
    return transaction([&](const Database &db) {
        for (const char *table : {"sessions", "tokens", "schemes"})
            db.Exec(QStringLiteral("DELETE FROM %1 WHERE \"user\" = ?").arg(QLatin1String(table)), {name});
        return db.Exec(QStringLiteral("DELETE FROM users WHERE name = ?"), {name}) > 0;
    });
}

bool Store::SetBranch(const QString &name, const QString &branch)
{
    // A moved user signs in anew, with the new branch's scope.
    return transaction([&](const Database &db) {
        const bool found = db.Exec(QStringLiteral("UPDATE users SET branch = ? WHERE name = ?"), {value(branch), name}) > 0;
        db.Exec(QStringLiteral("DELETE FROM sessions WHERE \"user\" = ?"), {name});
        db.Exec(QStringLiteral("DELETE FROM tokens WHERE \"user\" = ?"), {name});
        return found;
    });
}

std::optional<Store::User> Store::FindUser(const QString &name) const
{
    return locked([&](const Database &db) -> std::optional<User> {
        auto rows = db.Select(QStringLiteral("SELECT name, branch, email, disabled, password FROM users WHERE name = ?"), {name});
        if (!rows->Next())
            return std::nullopt;
        User user{text(*rows, 0), text(*rows, 1), text(*rows, 2), rows->Int(3) != 0, text(*rows, 4).toLatin1()};
        rows->Next();
        return user;
    });
}

QList<Store::User> Store::Users() const
{
    return locked([&](const Database &db) {
        auto rows = db.Select(QStringLiteral("SELECT name, branch, email, disabled FROM users ORDER BY name"));
        QList<User> users;
        while (rows->Next())
            users.append({text(*rows, 0), text(*rows, 1), text(*rows, 2), rows->Int(3) != 0, {}});
        return users;
    });
}

void Store::AddSession(const QByteArray &idHash, const Session &session)
{
    locked([&](const Database &db) {
        return db.Exec(QStringLiteral("INSERT INTO sessions (id, \"user\", csrf, created, last_seen) VALUES (?, ?, ?, ?, ?)"),
                       {hex(idHash), value(session.user), QString::fromLatin1(session.csrf), session.created, session.lastSeen});
    });
}

std::optional<Store::Session> Store::FindSession(const QByteArray &idHash) const
{
    return locked([&](const Database &db) -> std::optional<Session> {
        auto rows = db.Select(QStringLiteral("SELECT \"user\", csrf, created, last_seen FROM sessions WHERE id = ?"), {hex(idHash)});
        if (!rows->Next())
            return std::nullopt;
        Session session{text(*rows, 0), text(*rows, 1).toLatin1(), rows->Int(2), rows->Int(3)};
        rows->Next();
        return session;
    });
}

void Store::TouchSession(const QByteArray &idHash, qint64 now)
{
    locked([&](const Database &db) {
        return db.Exec(QStringLiteral("UPDATE sessions SET last_seen = ? WHERE id = ?"), {now, hex(idHash)});
    });
}

void Store::RemoveSession(const QByteArray &idHash)
{
    locked([&](const Database &db) { return db.Exec(QStringLiteral("DELETE FROM sessions WHERE id = ?"), {hex(idHash)}); });
}

void Store::RemoveSessionsBefore(qint64 lastSeen, qint64 created)
{
    locked([&](const Database &db) {
        return db.Exec(QStringLiteral("DELETE FROM sessions WHERE last_seen < ? OR created < ?"), {lastSeen, created});
    });
}

QMap<QString, Store::FailureCount> Store::SignInFailures(const QStringList &keys) const
{
    return locked([&](const Database &db) {
        QMap<QString, FailureCount> counts;
        for (const QString &key : keys) {
            auto rows = db.Select(QStringLiteral("SELECT failures, last FROM sign_in_failures WHERE id = ?"), {key});
            if (rows->Next())
                counts.insert(key, {int(rows->Int(0)), rows->Int(1)});
            rows->Next();
        }
        return counts;
    });
}

void Store::AddSignInFailure(const QStringList &keys, qint64 now, qint64 window)
{
    transaction([&](const Database &db) {
        db.Exec(QStringLiteral("DELETE FROM sign_in_failures WHERE last < ?"), {now - window});
        for (const QString &key : keys)
            db.Exec(QStringLiteral("INSERT INTO sign_in_failures (id, failures, last) VALUES (?, 1, ?) "
                                   "ON CONFLICT (id) DO UPDATE SET failures = CASE WHEN excluded.last - sign_in_failures.last > ? "
                                   "THEN 1 ELSE sign_in_failures.failures + 1 END, last = excluded.last"),
                    {key, now, window});
        return 0;
    });
}

void Store::RemoveSignInFailures(const QStringList &keys)
{
    locked([&](const Database &db) {
        for (const QString &key : keys)
            db.Exec(QStringLiteral("DELETE FROM sign_in_failures WHERE id = ?"), {key});
        return 0;
    });
}

qint64 Store::AddToken(const QByteArray &tokenHash, const QString &user, qint64 expires)
{
    return locked([&](const Database &db) {
        db.Exec(QStringLiteral("INSERT INTO tokens (hash, \"user\", created, expires) VALUES (?, ?, ?, ?)"),
                {hex(tokenHash), value(user), QDateTime::currentSecsSinceEpoch(), expires});
        auto rows = db.Select(QStringLiteral("SELECT number FROM tokens WHERE hash = ?"), {hex(tokenHash)});
        const qint64 number = rows->Next() ? rows->Int(0) : 0;
        rows->Next();
        return number;
    });
}

std::optional<Store::Token> Store::FindToken(const QByteArray &tokenHash) const
{
    return locked([&](const Database &db) -> std::optional<Token> {
        auto rows = db.Select(QStringLiteral("SELECT number, \"user\", created, expires FROM tokens WHERE hash = ?"),
                              {hex(tokenHash)});
        if (!rows->Next())
            return std::nullopt;
        Token token{rows->Int(0), text(*rows, 1), rows->Int(2), rows->Int(3)};
        rows->Next();
        return token;
    });
}

QList<Store::Token> Store::Tokens() const
{
    return locked([&](const Database &db) {
        auto rows = db.Select(QStringLiteral("SELECT number, \"user\", created, expires FROM tokens ORDER BY number"));
        QList<Token> tokens;
        while (rows->Next())
            tokens.append({rows->Int(0), text(*rows, 1), rows->Int(2), rows->Int(3)});
        return tokens;
    });
}

bool Store::RemoveToken(qint64 number)
{
    return locked([&](const Database &db) {
        return db.Exec(QStringLiteral("DELETE FROM tokens WHERE number = ?"), {number}) > 0;
    });
}

QJsonArray Store::Schemes(const QString &user, qint32 rptId) const
{
    return locked([&](const Database &db) {
        auto rows = db.Select(QStringLiteral("SELECT name FROM schemes WHERE \"user\" = ? AND report = ? ORDER BY name"),
                              {user, qint64(rptId)});
        QJsonArray names;
        while (rows->Next())
            names.append(text(*rows, 0));
        return names;
    });
}

std::optional<QByteArray> Store::Scheme(const QString &user, qint32 rptId, const QString &name) const
{
    return locked([&](const Database &db) -> std::optional<QByteArray> {
        auto rows = db.Select(QStringLiteral("SELECT filter FROM schemes WHERE \"user\" = ? AND report = ? AND name = ?"),
                              {user, qint64(rptId), name});
        if (!rows->Next())
            return std::nullopt;
        const QByteArray filter = text(*rows, 0).toUtf8();
        rows->Next();
        return filter;
    });
}

void Store::SaveScheme(const QString &user, qint32 rptId, const QString &name, const QByteArray &filter)
{
    locked([&](const Database &db) {
        return db.Exec(QStringLiteral("INSERT INTO schemes (\"user\", report, name, filter) VALUES (?, ?, ?, ?) "
                                      "ON CONFLICT (\"user\", report, name) DO UPDATE SET filter = excluded.filter"),
                       {value(user), qint64(rptId), value(name), value(QString::fromUtf8(filter))});
    });
}

bool Store::RemoveScheme(const QString &user, qint32 rptId, const QString &name)
{
    return locked([&](const Database &db) {
        return db.Exec(QStringLiteral("DELETE FROM schemes WHERE \"user\" = ? AND report = ? AND name = ?"),
                       {user, qint64(rptId), name}) > 0;
    });
}

void Store::Audit(const AuditEntry &e)
{
    locked([&](const Database &db) {
        return db.Exec(QStringLiteral("INSERT INTO audit (at, \"user\", address, action, report, filter, format, rows, status, bytes, cut) "
                                      "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                       {QDateTime::currentDateTimeUtc().toString(Qt::ISODate), value(e.user), value(e.address), value(e.action),
                        value(e.report), value(e.filter), value(e.format), e.rows, qint64(e.status),
                        e.bytes, e.cut ? QVariant(qint64(e.cut)) : QVariant()});
    });
}

QJsonArray Store::AuditTail(int count) const
{
    return locked([&](const Database &db) {
        auto rows = db.Select(QStringLiteral("SELECT at, \"user\", action, report, filter, format, rows, status "
                                             "FROM audit ORDER BY id DESC LIMIT ?"), {qint64(count)});
        QJsonArray entries;
        while (rows->Next())
            entries.append(QJsonObject{{QStringLiteral("at"), text(*rows, 0)}, {QStringLiteral("user"), text(*rows, 1)},
                                       {QStringLiteral("action"), text(*rows, 2)}, {QStringLiteral("report"), text(*rows, 3)},
                                       {QStringLiteral("filter"), text(*rows, 4)}, {QStringLiteral("format"), text(*rows, 5)},
                                       {QStringLiteral("rows"), rows->Int(6)}, {QStringLiteral("status"), rows->Int(7)}});
        return entries;
    });
}

namespace {

const char kScheduleColumns[] = "SELECT id, report, filter, format, per_branch, recipients, folder, cron, zone, enabled, "
                                "checked_until FROM schedules";
const char kDeliveryColumns[] = "SELECT d.schedule, d.slot, d.branch, d.state, d.attempts, d.next_try, d.error, d.rows, "
                                "d.updated, d.owner FROM deliveries d";
// Due: queued, a transient failure whose retry time came, or one whose sender's lease ran out.
const char kDue[] = "(d.state = 'pending' OR (d.state = 'failed-transient' AND d.next_try <= ?) "
                    "OR (d.state = 'sending' AND d.lease_until < ?))";
const char kKey[] = " WHERE schedule = ? AND slot = ? AND branch = ?";

const char *const kStateNames[] = {"pending", "sending", "sent", "failed-transient", "failed-permanent", "skipped"};

Store::Delivery deliveryOf(const RowCursor &rows)
{
    return {rows.Int(0), text(rows, 1), text(rows, 2), Store::DeliveryStateOf(text(rows, 3)), int(rows.Int(4)), rows.Int(5),
            text(rows, 6), rows.Int(7), rows.Int(8), text(rows, 9)};
}

QList<Store::Delivery> deliveries(const Database &db, const QString &sql, const QVariantList &params)
{
    auto rows = db.Select(sql, params);
    QList<Store::Delivery> out;
    while (rows->Next())
        out.append(deliveryOf(*rows));
    return out;
}

QVariantList key(const Store::Delivery &d)
{
    return {d.schedule, value(d.slot), value(d.branch)};
}

} // namespace

qint64 Store::AddSchedule(const Schedule &c)
{
    const QString made = QString::fromLatin1(QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + '-'
                                             + QByteArray::number(QRandomGenerator::system()->generate64(), 16));
    return locked([&](const Database &db) {
        db.Exec(QStringLiteral("INSERT INTO schedules (report, filter, format, per_branch, recipients, folder, cron, zone, "
                               "enabled, checked_until, made) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                {c.report, value(QString::fromUtf8(c.filter)), value(c.format), int(c.perBranch), value(c.to.join(u',')),
                 value(c.folder), value(c.cron), value(c.zone), int(c.enabled), c.checkedUntil, made});
        auto rows = db.Select(QStringLiteral("SELECT id FROM schedules WHERE made = ?"), {made});
        const qint64 id = rows->Next() ? rows->Int(0) : 0;
        rows->Next();
        return id;
    });
}

QList<Store::Schedule> Store::Schedules() const
{
    return locked([&](const Database &db) {
        auto rows = db.Select(QString::fromLatin1(kScheduleColumns) + QStringLiteral(" ORDER BY id"));
        QList<Schedule> out;
        while (rows->Next())
            out.append({rows->Int(0), qint32(rows->Int(1)), text(*rows, 2).toUtf8(), text(*rows, 3), rows->Int(4) != 0,
                        text(*rows, 5).split(u',', Qt::SkipEmptyParts), text(*rows, 6), text(*rows, 7), text(*rows, 8),
                        rows->Int(9) != 0, rows->Int(10)});
        return out;
    });
}

std::optional<Store::Schedule> Store::FindSchedule(qint64 id) const
{
    for (const Schedule &c : Schedules())
        if (c.id == id)
            return c;
    return std::nullopt;
}

bool Store::SetScheduleEnabled(qint64 id, bool enabled)
{
    return locked([&](const Database &db) {
        return db.Exec(QStringLiteral("UPDATE schedules SET enabled = ? WHERE id = ?"), {int(enabled), id}) > 0;
    });
}

void Store::SetCheckedUntil(qint64 id, qint64 moment)
{
    locked([&](const Database &db) {
        return db.Exec(QStringLiteral("UPDATE schedules SET checked_until = ? WHERE id = ? AND checked_until < ?"),
                       {moment, id, moment});
    });
}

QMap<QString, QStringList> Store::BranchAddresses() const
{
    return locked([&](const Database &db) {
        auto rows = db.Select(QStringLiteral("SELECT branch, email FROM users WHERE branch <> '' AND email <> '' "
                                             "AND disabled = 0 ORDER BY branch, name"));
        QMap<QString, QStringList> out;
        while (rows->Next())
            out[text(*rows, 0)].append(text(*rows, 1));
        return out;
    });
}

QString Store::DeliveryStateName(DeliveryState state)
{
    return QString::fromLatin1(kStateNames[int(state)]);
}

Store::DeliveryState Store::DeliveryStateOf(const QString &name)
{
    for (int i = 0; i < int(std::size(kStateNames)); ++i)
        if (name == QLatin1String(kStateNames[i]))
            return DeliveryState(i);
    throw VelError(failure(QStringLiteral("未知的发送状态“%1”").arg(name.left(40))));
}

bool Store::AddDelivery(qint64 schedule, const QString &slot, const QString &branch, const QStringList &recipients,
                        qint64 now)
{
    return transaction([&](const Database &db) {
        // A slot logged as skipped can still be sent on demand.
        db.Exec(QStringLiteral("DELETE FROM deliveries WHERE schedule = ? AND slot = ? AND state = 'skipped'"),
                {schedule, value(slot)});
        if (db.Exec(QStringLiteral("INSERT INTO deliveries (schedule, slot, branch, state, next_try, updated) "
                                   "VALUES (?, ?, ?, 'pending', ?, ?) ON CONFLICT DO NOTHING"),
                    {schedule, value(slot), value(branch), now, now}) <= 0)
            return false;
        for (const QString &address : recipients)
            db.Exec(QStringLiteral("INSERT INTO recipients (schedule, slot, branch, address, state, updated) "
                                   "VALUES (?, ?, ?, ?, 'pending', ?) ON CONFLICT DO NOTHING"),
                    {schedule, value(slot), value(branch), value(address), now});
        return true;
    });
}

void Store::AddSkipped(qint64 schedule, const QString &slot, qint64 now)
{
    locked([&](const Database &db) {
        return db.Exec(QStringLiteral("INSERT INTO deliveries (schedule, slot, branch, state, next_try, updated, error) "
                                      "VALUES (?, ?, '', 'skipped', 0, ?, ?) ON CONFLICT DO NOTHING"),
                       {schedule, value(slot), now, QStringLiteral("服务停止的时间超过补发时限（--catch-up），没有发送")});
    });
}

bool Store::ClaimDelivery(Delivery &d, qint64 now, qint64 leaseUntil)
{
    // One statement: the row is due and becomes "sending" under its row lock, in whichever
    // process; a second claimer finds it no longer due. The owner's mark fences a sender whose
    // lease ran out and was taken over.
    const QString owner = QString::fromLatin1(QByteArray::number(QRandomGenerator::system()->generate64(), 16));
    const bool claimed = locked([&](const Database &db) {
        return db.Exec(QStringLiteral("UPDATE deliveries SET state = 'sending', attempts = attempts + 1, lease_until = ?, "
                                      "updated = ?, owner = ?") + QLatin1String(kKey) + QStringLiteral(" AND ")
                           + QString::fromLatin1(kDue).replace(QStringLiteral("d."), QString()),
                       QVariantList{leaseUntil, now, owner} + key(d) + QVariantList{now, now}) > 0;
    });
    if (claimed) {
        d.owner = owner;
        d.state = DeliveryState::Sending;
        ++d.attempts;
    }
    return claimed;
}

bool Store::RenewLease(const Delivery &d, qint64 leaseUntil)
{
    return locked([&](const Database &db) {
        return db.Exec(QStringLiteral("UPDATE deliveries SET lease_until = ?") + QLatin1String(kKey)
                           + QStringLiteral(" AND state = 'sending' AND owner = ?"),
                       QVariantList{leaseUntil} + key(d) + QVariantList{d.owner}) > 0;
    });
}

bool Store::FinishDelivery(const Delivery &d)
{
    return locked([&](const Database &db) {
        return db.Exec(QStringLiteral("UPDATE deliveries SET state = ?, next_try = ?, error = ?, rows = ?, updated = ?, "
                                      "lease_until = 0, owner = ''") + QLatin1String(kKey)
                           + QStringLiteral(" AND state = 'sending' AND owner = ?"),
                       QVariantList{DeliveryStateName(d.state), d.nextTry, value(d.error.left(2000)), d.rows, d.updated}
                           + key(d) + QVariantList{d.owner}) > 0;
    });
}

QList<Store::Recipient> Store::Recipients(const Delivery &d) const
{
    return locked([&](const Database &db) {
        auto rows = db.Select(QStringLiteral("SELECT address, state, reply, updated FROM recipients") + QLatin1String(kKey)
                                  + QStringLiteral(" ORDER BY address"),
                              key(d));
        QList<Recipient> out;
        while (rows->Next())
            out.append({text(*rows, 0), DeliveryStateOf(text(*rows, 1)), text(*rows, 2), rows->Int(3)});
        return out;
    });
}

void Store::SetRecipient(const Delivery &d, const Recipient &r)
{
    locked([&](const Database &db) {
        return db.Exec(QStringLiteral("UPDATE recipients SET state = ?, reply = ?, updated = ?") + QLatin1String(kKey)
                           + QStringLiteral(" AND address = ?"),
                       QVariantList{DeliveryStateName(r.state), value(r.reply.left(500)), r.updated} + key(d)
                           + QVariantList{value(r.address)});
    });
}

int Store::Resend(qint64 schedule, const QString &slot, qint64 now)
{
    return transaction([&](const Database &db) {
        db.Exec(QStringLiteral("UPDATE recipients SET state = 'pending', reply = '', updated = ? WHERE schedule = ? "
                               "AND slot = ? AND state <> 'sent' AND branch IN (SELECT branch FROM deliveries "
                               "WHERE schedule = ? AND slot = ? AND state = 'failed-permanent')"),
                {now, schedule, value(slot), schedule, value(slot)});
        return int(db.Exec(QStringLiteral("UPDATE deliveries SET state = 'pending', attempts = 0, next_try = ?, error = '', "
                                          "updated = ? WHERE schedule = ? AND slot = ? AND state = 'failed-permanent'"),
                           {now, now, schedule, value(slot)}));
    });
}

QList<Store::Delivery> Store::DueDeliveries(qint64 now) const
{
    return locked([&](const Database &db) {
        return deliveries(db, QString::fromLatin1(kDeliveryColumns)
                                  + QStringLiteral(" JOIN schedules c ON c.id = d.schedule WHERE c.enabled = 1 AND ")
                                  + QString::fromLatin1(kDue) + QStringLiteral(" ORDER BY d.next_try, d.schedule, d.slot, d.branch"),
                          {now, now});
    });
}

qint64 Store::NextDue() const
{
    return locked([&](const Database &db) {
        return db.SelectInt(QStringLiteral("SELECT coalesce(min(CASE WHEN d.state = 'sending' THEN d.lease_until "
                                           "ELSE d.next_try END), 0) FROM deliveries d JOIN schedules c ON c.id = d.schedule "
                                           "WHERE c.enabled = 1 AND d.state IN ('pending', 'failed-transient', 'sending')"));
    });
}

QList<Store::Delivery> Store::Deliveries(qint64 schedule, int count) const
{
    return locked([&](const Database &db) {
        return deliveries(db, QString::fromLatin1(kDeliveryColumns)
                                  + QStringLiteral(" WHERE d.schedule = ? ORDER BY d.slot DESC, d.branch LIMIT ?"),
                          {schedule, count});
    });
}

qint64 Store::CountDeliveries(DeliveryState state) const
{
    return locked([&](const Database &db) {
        auto rows = db.Select(QStringLiteral("SELECT count(*) FROM deliveries WHERE state = ?"), {DeliveryStateName(state)});
        const qint64 n = rows->Next() ? rows->Int(0) : 0;
        rows->Next();
        return n;
    });
}
