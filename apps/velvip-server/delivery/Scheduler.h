#pragma once

#include "Alarm.h"
#include "Smtp.h"
#include "Store.h"
#include "WorkerProtocol.h"

#include <QDate>
#include <QJsonObject>
#include <QString>

#include <atomic>
#include <functional>
#include <thread>

class WorkerPool;

struct DeliveryOptions
{
    SmtpSettings smtp;
    QString portalUrl;                      // the portal's address, for links in place of big files
    qint64 attachLimit = 10 * 1024 * 1024;  // larger files go as a link
    qint64 catchUpSeconds = 24 * 3600;      // slots missed longer ago are logged as skipped, not sent
    qint64 retrySeconds = 60;               // the first wait after a transient failure; doubles
    int maxAttempts = 6;                    // the first try and five retries
    qint64 pollSeconds = 30;                // how often the store is read for queued deliveries
    qint64 leaseSeconds = 900;              // a delivery stopped mid-way is taken up again after this
};

// Scheduled deliveries: a thread that wakes at the next slot, queues the slots that came (also
// those missed while the service was down, within the catch-up window), and sends each queued
// delivery exactly once: the report through a worker with the branch's scope, written by the
// same writers as a download, by e-mail and into a folder.
class Scheduler
{
public:
    Scheduler(Store &store, WorkerPool &pool, QString props, bool sharedCards, DeliveryOptions options);
    ~Scheduler();
    void Start();
    void Stop();
    // Looks at the store now instead of at the next slot.
    void Wake();

    // Checks a new schedule: report, filter and period, format, timing and zone, recipients.
    // Throws VelError with one sentence per problem.
    static void Check(const Store::Schedule &schedule);
    // Queues one slot: a delivery per branch that has addressed users, or the head-office one,
    // each with its recipients as they are now. The number newly queued; a slot queued before
    // is not queued again.
    static int Queue(Store &store, const Store::Schedule &schedule, const QString &slot, qint64 now);
    // Queues the slots that came up to `now`; slots older than the catch-up window (and not
    // just due) are logged as skipped. The moment of the next slot of any schedule, or 0.
    static qint64 QueueDue(Store &store, qint64 now, const DeliveryOptions &options);
    // The slot of a schedule on a date, or the latest one up to now when `date` is null. Throws
    // VelError when the timing has none.
    static QString SlotOf(const Store::Schedule &schedule, const QDate &date);

    static QJsonObject ToJson(const Store::Schedule &schedule);
    static QJsonObject ToJson(const Store::Delivery &delivery, const QList<Store::Recipient> &recipients);

private:
    struct Produced;
    class LeaseKeeper;
    void loop();
    qint64 tick(qint64 now);
    void deliver(Store::Delivery delivery);
    // Runs a report in a worker, its file handed piece by piece to `sink`; a sink that answers
    // false stops the run (Produced::stopped).
    Produced produce(WorkerRequest request, const std::function<bool(const QByteArray &)> &sink);

    Store &m_store;
    WorkerPool &m_pool;
    const QString m_props;
    const bool m_sharedCards;
    const DeliveryOptions m_options;
    Alarm m_alarm;
    std::atomic<bool> m_stop = false;
    std::thread m_thread;
};
