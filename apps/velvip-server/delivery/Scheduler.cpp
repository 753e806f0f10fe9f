#include "Scheduler.h"

#include "Alarm.h"
#include "AtomicFile.h"
#include "BranchContext.h"
#include "Checks.h"
#include "Cron.h"
#include "Dictionary.h"
#include "FilterDates.h"
#include "Mime.h"
#include "ReportSession.h"
#include "Retry.h"
#include "ServiceFilter.h"
#include "VelError.h"
#include "WorkerPool.h"
#include "WorkerProtocol.h"

#include <QDateTime>
#include <QDir>
#include <QCryptographicHash>
#include <QTemporaryFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>
#include <QUrlQuery>

#include <algorithm>
#include <optional>
#include <cerrno>
#include <cstdio>
#include <chrono>

namespace {

const QStringList kFormats{QStringLiteral("csv"), QStringLiteral("xlsx"), QStringLiteral("pdf")};

qint64 now()
{
    return QDateTime::currentSecsSinceEpoch();
}

void note(const QString &line)
{
    QTextStream(stderr) << QStringLiteral("velvip-server: ") << line << Qt::endl;
}

// A portal address that opens the report with the filter of the delivery.
QString portalLink(const QString &base, qint32 report, const QByteArray &filter, const QDate &today)
{
    QJsonObject keys = QJsonDocument::fromJson(filter).object();
    QUrlQuery query;
    if (const QJsonValue period = keys.take(QStringLiteral("period")); period.isString()) {
        const auto days = FilterDates::ParsePeriod(period.toString(), today);
        query.addQueryItem(QStringLiteral("period"), days.first == days.last ? days.first.toString(Qt::ISODate)
                           : days.first.toString(Qt::ISODate) + QStringLiteral("..") + days.last.toString(Qt::ISODate));
    }
    for (auto it = keys.begin(); it != keys.end(); ++it)
        query.addQueryItem(it.key(), it.value().toVariant().toString());
    QString link = base;
    while (link.endsWith(u'/'))
        link.chop(1);
    return link + QStringLiteral("/#/reports/%1?").arg(report) + query.toString(QUrl::FullyEncoded);
}

} // namespace

struct Scheduler::Produced
{
    std::optional<Vel::ErrorKind> failure;   // none: the file was made (or the sink had enough)
    QString error;
    bool stopped = false;    // the sink had enough
    qint64 size = 0;
    QString name, period, totals;
    qint64 rows = -1;
};

// Renews a claimed delivery's lease while its sender works, a third of the lease (or a poll) at a
// time, and queues the slots that come meanwhile, so that they count as on time; a sender whose
// delivery was taken over learns it here and at each check before it sends.
class Scheduler::LeaseKeeper
{
public:
    LeaseKeeper(Store &store, const Store::Delivery &delivery, const DeliveryOptions &options)
        : m_store(store), m_delivery(delivery), m_lease(options.leaseSeconds)
    {
        m_thread = std::thread([this, &options] {
            const qint64 every = std::max<qint64>(200, std::min(m_lease * 1000 / 3, options.pollSeconds * 1000));
            while (!m_done.Wait(every)) {
                if (!renew()) {
                    m_lost = true;
                    return;
                }
                try {
                    QueueDue(m_store, QDateTime::currentSecsSinceEpoch(), options);
                } catch (const VelError &e) {
                    note(QStringLiteral("定时发送出错：") + e.Description());
                }
            }
        });
    }
    ~LeaseKeeper()
    {
        m_done.Ring();
        m_thread.join();
    }
    // Still the owner, with a lease renewed now: what must hold before anything goes out.
    bool Hold()
    {
        return !m_lost && renew();
    }

private:
    bool renew()
    {
        try {
            return m_store.RenewLease(m_delivery, QDateTime::currentSecsSinceEpoch() + m_lease);
        } catch (const VelError &) {
            return false;   // not known to be ours: nothing is sent
        }
    }

    Store &m_store;
    const Store::Delivery m_delivery;
    const qint64 m_lease;
    Alarm m_done;
    std::atomic<bool> m_lost = false;
    std::thread m_thread;
};

Scheduler::Scheduler(Store &store, WorkerPool &pool, QString props, bool sharedCards, DeliveryOptions options)
    : m_store(store), m_pool(pool), m_props(std::move(props)), m_sharedCards(sharedCards), m_options(std::move(options))
{
}

Scheduler::~Scheduler()
{
    Stop();
}

void Scheduler::Start()
{
    m_thread = std::thread([this] { loop(); });
}

void Scheduler::Stop()
{
    m_stop = true;
    AbandonQuits();
    m_alarm.Ring();
    if (m_thread.joinable())
        m_thread.join();
}

void Scheduler::Wake()
{
    m_alarm.Ring();
}

void Scheduler::Check(const Store::Schedule &c)
{
    QStringList problems;
    if (!ReportSession::ReportIds().contains(c.report))
        problems << QStringLiteral("没有报表 %1（报表编号为 %2）").arg(c.report).arg(ReportSession::ReportIdsText());
    else {
        const auto prepared = ServiceFilter::FromJson(c.report, c.filter, QDate::currentDate());
        problems << prepared.errors;
        if (prepared.errors.isEmpty() && c.perBranch && !ServiceFilter::BranchKeys(c.report).isEmpty())
            for (const QString &key : ServiceFilter::BranchKeys(c.report))
                if (!prepared.filter->Value(key).toString().trimmed().isEmpty())
                    problems << QStringLiteral("按分店发送时不能设置“%1”：每个分店只收到本分店的数据").arg(key);
    }
    if (!kFormats.contains(c.format))
        problems << QStringLiteral("格式“%1”不可用：可用 xlsx、pdf、csv").arg(c.format.left(20));
    try {
        Cron(c.cron, c.zone);
    } catch (const VelError &e) {
        problems << e.Description();
    }
    for (const QString &to : c.to)
        if (const QString wrong = DeliveryCheck::Address(QStringLiteral("收件人"), to); !wrong.isEmpty())
            problems << wrong;
    if (c.perBranch && !c.to.isEmpty())
        problems << QStringLiteral("按分店发送的邮件只发给各分店的用户，不能另给收件人");
    if (!c.perBranch && c.to.isEmpty() && c.folder.isEmpty())
        problems << QStringLiteral("请给出收件人或文件夹：总部邮件要有收件人");
    if (!problems.isEmpty())
        throw VelError(problems.join(u'\n'));
}

int Scheduler::Queue(Store &store, const Store::Schedule &c, const QString &slot, qint64 at)
{
    // Values stored before they were checked where they enter never reach a message.
    auto checked = [](const QStringList &addresses) {
        QStringList out;
        for (const QString &a : addresses)
            if (const QString wrong = DeliveryCheck::Address(QStringLiteral("收件人"), a); wrong.isEmpty())
                out << a;
            else
                note(wrong);
        return out;
    };
    if (!c.perBranch)
        return store.AddDelivery(c.id, slot, {}, checked(c.to), at) ? 1 : 0;
    int queued = 0;
    const auto branches = store.BranchAddresses();
    for (auto it = branches.begin(); it != branches.end(); ++it) {
        if (const QString wrong = DeliveryCheck::Branch(QStringLiteral("分店"), it.key()); !wrong.isEmpty()) {
            note(wrong);
            continue;
        }
        queued += store.AddDelivery(c.id, slot, it.key(), checked(it.value()), at) ? 1 : 0;
    }
    return queued;
}

qint64 Scheduler::QueueDue(Store &store, qint64 at, const DeliveryOptions &options)
{
    // A slot that came since the last look is sent when it is within the catch-up window or
    // came just now (within a poll and a minute: "--catch-up 0" sends on time); older ones are
    // logged as skipped, at most a month and a few hundred of them.
    constexpr qint64 kLookBack = 31LL * 24 * 3600;
    constexpr int kMostSkipped = 500;
    const qint64 sendFrom = at - std::max(options.catchUpSeconds, options.pollSeconds + 60);
    qint64 next = 0;
    for (const Store::Schedule &c : store.Schedules()) {
        if (!c.enabled)
            continue;
        try {
            const Cron cron(c.cron, c.zone);
            int skipped = 0;
            for (auto slot = cron.Next(QDateTime::fromSecsSinceEpoch(std::max(c.checkedUntil, at - kLookBack), Qt::UTC));
                 slot && slot->toSecsSinceEpoch() <= at; slot = cron.Next(*slot)) {
                if (slot->toSecsSinceEpoch() >= sendFrom)
                    Queue(store, c, cron.SlotName(*slot), at);
                else if (++skipped <= kMostSkipped)
                    store.AddSkipped(c.id, cron.SlotName(*slot), at);
            }
            if (skipped > kMostSkipped)
                note(QStringLiteral("计划 %1：另有 %2 个时段超过补发时限，没有发送也没有记录").arg(c.id).arg(skipped - kMostSkipped));
            store.SetCheckedUntil(c.id, at);
            if (const auto slot = cron.Next(QDateTime::fromSecsSinceEpoch(at, Qt::UTC)))
                next = next ? std::min(next, slot->toSecsSinceEpoch()) : slot->toSecsSinceEpoch();
        } catch (const VelError &e) {
            note(QStringLiteral("计划 %1：%2").arg(c.id).arg(e.Description()));
        }
    }
    return next;
}

QString Scheduler::SlotOf(const Store::Schedule &c, const QDate &date)
{
    const Cron cron(c.cron, c.zone);
    const QDateTime current = QDateTime::currentDateTimeUtc();
    const auto slot = date.isValid() ? cron.OnDate(date) : cron.Last(current, 400LL * 24 * 3600);
    if (!slot)
        throw VelError(date.isValid() ? QStringLiteral("计划 %1 在 %2 没有发送时间（定时 %3）")
                                            .arg(c.id).arg(date.toString(Qt::ISODate), c.cron)
                                      : QStringLiteral("计划 %1 还没有到过发送时间").arg(c.id));
    return cron.SlotName(*slot);
}

QJsonObject Scheduler::ToJson(const Store::Schedule &c)
{
    return {{QStringLiteral("id"), c.id}, {QStringLiteral("report"), c.report},
            {QStringLiteral("filter"), QJsonDocument::fromJson(c.filter).object()}, {QStringLiteral("format"), c.format},
            {QStringLiteral("split"), c.perBranch ? QStringLiteral("branch") : QStringLiteral("none")},
            {QStringLiteral("to"), QJsonArray::fromStringList(c.to)}, {QStringLiteral("folder"), c.folder},
            {QStringLiteral("cron"), c.cron}, {QStringLiteral("tz"), c.zone}, {QStringLiteral("enabled"), c.enabled}};
}

QJsonObject Scheduler::ToJson(const Store::Delivery &d, const QList<Store::Recipient> &recipients)
{
    QJsonArray to;
    for (const Store::Recipient &r : recipients)
        to.append(QJsonObject{{QStringLiteral("address"), r.address},
                              {QStringLiteral("state"), Store::DeliveryStateName(r.state)},
                              {QStringLiteral("reply"), r.reply}});
    return {{QStringLiteral("slot"), d.slot}, {QStringLiteral("branch"), d.branch},
            {QStringLiteral("state"), Store::DeliveryStateName(d.state)}, {QStringLiteral("attempts"), d.attempts},
            {QStringLiteral("error"), d.error}, {QStringLiteral("rows"), d.rows}, {QStringLiteral("recipients"), to},
            {QStringLiteral("updated"), QDateTime::fromSecsSinceEpoch(d.updated, Qt::UTC).toString(Qt::ISODate)}};
}

void Scheduler::loop()
{
    while (!m_stop) {
        qint64 wake = now() + m_options.pollSeconds;
        try {
            wake = tick(now());
        } catch (const VelError &e) {
            note(QStringLiteral("定时发送出错：") + e.Description());
        } catch (const std::exception &) {
            note(QStringLiteral("定时发送出错，%1 秒后再试").arg(m_options.pollSeconds));
        }
        // Never longer than a poll: a wall clock set forward past a slot, or back, is seen then.
        m_alarm.Wait(std::clamp<qint64>(wake * 1000 - QDateTime::currentMSecsSinceEpoch(), 0, m_options.pollSeconds * 1000));
    }
}

qint64 Scheduler::tick(qint64 at)
{
    qint64 wake = at + m_options.pollSeconds;
    if (const qint64 next = QueueDue(m_store, at, m_options); next > 0)
        wake = std::min(wake, next);
    for (Store::Delivery d : m_store.DueDeliveries(at)) {
        if (m_stop)
            return at;
        // Slots that came while the last delivery was being sent are on time still.
        QueueDue(m_store, now(), m_options);
        if (m_store.ClaimDelivery(d, now(), now() + m_options.leaseSeconds))
            deliver(d);
    }
    if (const qint64 due = m_store.NextDue(); due > 0)
        wake = std::min(wake, std::max(due, now() + 1));
    return wake;
}

Scheduler::Produced Scheduler::produce(WorkerRequest request, const std::function<bool(const QByteArray &)> &sink)
{
    request.user = QStringLiteral("计划");
    request.props = m_props;
    request.sharedCards = m_sharedCards;
    WorkerCall call(m_pool, std::move(request), true);
    Produced p;
    WorkerAnswer frame = *call.Begin();
    p.name = frame.name;
    for (; frame.kind == WorkerProtocol::FrameKind::Head || frame.kind == WorkerProtocol::FrameKind::Data; frame = call.Next()) {
        p.size += frame.data.size();
        if (frame.kind == WorkerProtocol::FrameKind::Data && !sink(frame.data)) {
            // The worker is stopped and replaced as the call ends unfinished.
            p.stopped = true;
            return p;
        }
    }
    if (frame.kind == WorkerProtocol::FrameKind::Failure) {
        p.failure = frame.error;
        p.error = frame.sentence;
        return p;
    }
    p.rows = frame.rows;
    p.totals = frame.totals;
    p.period = frame.period;
    return p;
}

void Scheduler::deliver(Store::Delivery d)
{
    using State = Store::DeliveryState;
    LeaseKeeper keeper(m_store, d, m_options);
    const auto c = m_store.FindSchedule(d.schedule);
    const QDate today = QDate::fromString(d.slot.left(10), Qt::ISODate);
    auto finish = [&](State state, const QString &error) {
        d.state = state;
        d.error = error;
        d.updated = now();
        if (state == State::FailedTransient) {
            if (const auto wait = RetryWait(d.attempts, m_options.retrySeconds, m_options.maxAttempts)) {
                d.nextTry = d.updated + *wait;
            } else {
                d.state = State::FailedPermanent;
                d.error = QStringLiteral("发送 %1 次后仍未成功：").arg(d.attempts) + error;
            }
        }
        if (!m_store.FinishDelivery(d))
            return note(QStringLiteral("计划 %1 时段 %2 %3：已由另一个发送者接手").arg(d.schedule).arg(d.slot, d.branch));
        m_store.Audit({QStringLiteral("计划 %1").arg(d.schedule), {}, QStringLiteral("deliver"),
                       c ? QString::number(c->report) : QString(), d.slot + u' ' + d.branch, c ? c->format : QString(),
                       d.rows, d.state == State::Sent ? 200 : 500});
        if (!error.isEmpty())
            note(QStringLiteral("计划 %1 时段 %2 %3：%4").arg(d.schedule).arg(d.slot, d.branch, d.error));
    };
    if (!c)
        return finish(State::FailedPermanent, QStringLiteral("计划已删除"));
    const auto prepared = ServiceFilter::FromJson(c->report, c->filter, today);
    if (!prepared.errors.isEmpty())
        return finish(State::FailedPermanent, prepared.errors.join(u'\n'));
    if (!d.branch.isEmpty())
        if (const QString refused = ServiceFilter::RefusedAtBranch(c->report, *prepared.filter, d.branch); !refused.isEmpty())
            return finish(State::FailedPermanent, refused);
    // The recipients fixed when the slot was queued; those sent to, or refused for good, are done.
    const QList<Store::Recipient> all = m_store.Recipients(d);
    QList<Store::Recipient> recipients;
    QStringList transient, permanent;
    for (const Store::Recipient &r : all)
        if (r.state == State::Pending || r.state == State::FailedTransient)
            recipients << r;
        else if (r.state == State::FailedPermanent)
            permanent << QStringLiteral("%1：%2").arg(r.address, r.reply);
    if (all.isEmpty() && c->folder.isEmpty())
        return finish(State::FailedPermanent, QStringLiteral("分店 %1 没有设置了电子邮件的用户").arg(d.branch));
    if (recipients.isEmpty() && c->folder.isEmpty())
        return finish(permanent.isEmpty() ? State::Sent : State::FailedPermanent, permanent.join(u'\n'));
    if (!recipients.isEmpty() && !m_options.smtp.Configured())
        return finish(State::FailedPermanent, QStringLiteral("没有设置邮件服务器（--smtp）"));

    const QString period = ServiceFilter::PeriodName(*prepared.filter);
    QStringList nameParts{QString(), QString::number(c->report), period, d.branch};
    const QString where = d.branch.isEmpty() ? QStringLiteral("全部分店") : QStringLiteral("分店 ") + d.branch;
    WorkerRequest request;
    request.branch = d.branch;
    request.report = c->report;
    request.filter = c->filter;
    request.format = c->format;
    request.bom = true;
    request.today = today;

    // The file goes to disk as it is made: into the folder (written atomically) or a private
    // temporary file. Without a folder, a file over the attachment limit is not made further.
    std::optional<AtomicFile> folderFile;
    QTemporaryFile temporary(QDir(QDir::tempPath()).filePath(QStringLiteral("velvip-delivery-XXXXXX")));
    QString filePath;
    Produced p;
    try {
        if (!c->folder.isEmpty()) {
            QDir().mkpath(c->folder);
            // Named once the report's name is known; a placeholder target until then.
            folderFile.emplace(QDir(c->folder).filePath(QStringLiteral(".velvip-delivery-%1").arg(d.owner)));
        } else if (!temporary.open()) {
            return finish(State::FailedTransient, QStringLiteral("无法建立临时文件"));
        }
        const bool limited = !folderFile;
        qint64 written = 0;
        p = produce(std::move(request), [&](const QByteArray &piece) {
            written += piece.size();
            if (limited && written > m_options.attachLimit)
                return false;
            if (folderFile)
                folderFile->Write(piece.constData(), size_t(piece.size()));
            else if (temporary.write(piece) != piece.size())
                throw VelError(AtomicFile::WriteError(temporary.fileName(), errno));
            return true;
        });
        if (p.failure)
            return finish(*p.failure == Vel::ErrorKind::BadFilter ? State::FailedPermanent : State::FailedTransient, p.error);
        nameParts[0] = p.name;
        nameParts.removeAll(QString());
        const QString fileName = nameParts.join(u'_') + u'.' + c->format;
        if (folderFile) {
            folderFile->Commit();
            const QString target = QDir(c->folder).filePath(fileName);
            if (std::rename(QFile::encodeName(folderFile->Target()).constData(), QFile::encodeName(target).constData()) != 0)
                throw VelError(AtomicFile::WriteError(target, errno));
            filePath = target;
        } else {
            temporary.flush();
            filePath = temporary.fileName();
        }
        d.rows = p.rows;
        if (recipients.isEmpty())
            return finish(permanent.isEmpty() ? State::Sent : State::FailedPermanent, permanent.join(u'\n'));

        QStringList lines{QStringLiteral("报表：%1（%2）").arg(p.name).arg(c->report)};
        if (!p.period.isEmpty())
            lines << p.period;
        lines << QStringLiteral("范围：") + where;
        if (p.rows >= 0)
            lines << QStringLiteral("行数：%1").arg(p.rows);
        if (!p.totals.isEmpty())
            lines << p.totals;
        MailMessage m;
        if (p.stopped || p.size > m_options.attachLimit) {
            const QString link = m_options.portalUrl.isEmpty() ? QString()
                                                               : portalLink(m_options.portalUrl, c->report, c->filter, today);
            QString line = QStringLiteral("文件 %1 超过附件上限 %2 MB，没有附上。")
                               .arg(fileName).arg(double(m_options.attachLimit) / (1024 * 1024), 0, 'f', 1);
            if (!link.isEmpty())
                line += QStringLiteral("请在报表门户查看：") + link;
            else if (!c->folder.isEmpty())
                line += QStringLiteral("文件已存放在 ") + filePath;
            else
                line += QStringLiteral("文件没有保存，请用报表程序按以上条件运行该报表。");
            lines << line;
        } else {
            m.attachmentName = fileName;
            m.attachmentType = ServiceFilter::ContentType(c->format);
            m.attachmentPath = filePath;
        }
        QStringList subject{p.name, period, where};
        subject.removeAll(QString());
        m.from = m_options.smtp.from;
        m.subject = subject.join(u' ');
        m.text = QStringLiteral("您好：\n\n这是定时发送的报表。\n\n") + lines.join(u'\n') + u'\n';
        QString html = QStringLiteral("<p>您好：</p><p>这是定时发送的报表。</p><ul>");
        for (const QString &line : lines)
            html += QStringLiteral("<li>%1</li>").arg(line.toHtmlEscaped());
        m.html = QStringLiteral("<!DOCTYPE html><html><body>") + html + QStringLiteral("</ul></body></html>");

        // One message per recipient: a refused address fails alone. Each is sent only while this
        // sender still holds the delivery.
        for (Store::Recipient &r : recipients) {
            if (!keeper.Hold())
                return note(QStringLiteral("计划 %1 时段 %2 %3：租约已由另一个发送者接手，不再发送")
                                .arg(d.schedule).arg(d.slot, d.branch));
            m.to = r.address;
            // The same on every attempt and from every instance, so that a receiver can drop a
            // message sent again after a sender died between the server's 250 and the log.
            m.messageId = QStringLiteral("velvip.%1.%2.%3.%4@%5")
                              .arg(d.schedule)
                              .arg(QString(d.slot).remove(u':'), d.branch.isEmpty() ? QStringLiteral("all") : d.branch,
                                   QString::fromLatin1(QCryptographicHash::hash(r.address.toUtf8(), QCryptographicHash::Sha256)
                                                           .toHex().left(12)),
                                   m_options.smtp.from.section(u'@', -1));
            MimeReader message(m);
            // The server's answer is logged before anything else happens, QUIT included.
            const SmtpResult sent = SendMail(m_options.smtp, r.address, message, [&](const SmtpResult &result) {
                r.state = result.outcome == SmtpResult::Sent ? State::Sent
                    : result.outcome == SmtpResult::Permanent ? State::FailedPermanent : State::FailedTransient;
                r.reply = result.outcome == SmtpResult::Sent ? QString() : result.reply.isEmpty() ? result.error : result.reply;
                r.updated = now();
                m_store.SetRecipient(d, r);
            });
            if (r.state != State::Sent)
                (r.state == State::FailedPermanent ? permanent : transient) << sent.error;
        }
        if (!transient.isEmpty()) {
            // Out of tries: the addresses still failing fail for good, each in the log.
            for (Store::Recipient &r : recipients)
                if (r.state == State::FailedTransient && !RetryWait(d.attempts, 1, m_options.maxAttempts)) {
                    r.state = State::FailedPermanent;
                    m_store.SetRecipient(d, r);
                }
            return finish(State::FailedTransient, (transient + permanent).join(u'\n'));
        }
        if (!permanent.isEmpty())
            return finish(State::FailedPermanent, permanent.join(u'\n'));
    } catch (const VelError &e) {
        return finish(State::FailedTransient, c->folder.isEmpty() ? e.Description()
                          : QStringLiteral("写入文件夹 %1 失败：").arg(c->folder) + e.Description());
    }
    finish(State::Sent, {});
}
