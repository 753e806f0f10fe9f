#include "Scheduler.h"

#include "AtomicFile.h"
#include "Dictionary.h"
#include "FilterDates.h"
#include "ReportSession.h"
#include "Service.h"
#include "ServiceFilter.h"
#include "VelError.h"
#include "WorkerPool.h"
#include "WorkerProtocol.h"
#include "Cron.h"
#include "Mime.h"

#include <QDateTime>
#include <QDir>
#include <QSysInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTextStream>
#include <QUrlQuery>

#include <algorithm>
#include <chrono>

struct Scheduler::Produced
{
    int status = 500;
    QString error;
    QByteArray file;
    QString name, period, totals;
    qint64 rows = 0;
};

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
    {
        std::lock_guard guard(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void Scheduler::Wake()
{
    {
        std::lock_guard guard(m_lock);
        m_woken = true;
    }
    m_wake.notify_all();
}

void Scheduler::Check(const Store::Schedule &c)
{
    QStringList problems;
    if (!ReportSession::ReportIds().contains(c.report))
        problems << QStringLiteral("没有报表 %1（报表编号为 10901 至 10906）").arg(c.report);
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
    static const QRegularExpression address(QStringLiteral(R"(^[^@\s<>,;"]+@[^@\s<>,;"]+$)"));
    for (const QString &to : c.to)
        if (!address.match(to).hasMatch())
            problems << QStringLiteral("“%1”不是电子邮件地址").arg(to.left(80));
    if (c.perBranch && !c.to.isEmpty())
        problems << QStringLiteral("按分店发送的邮件只发给各分店的用户，不能另给收件人");
    if (!c.perBranch && c.to.isEmpty() && c.folder.isEmpty())
        problems << QStringLiteral("请给出收件人或文件夹：总部邮件要有收件人");
    if (!problems.isEmpty())
        throw VelError(problems.join(u'\n'));
}

int Scheduler::Queue(Store &store, const Store::Schedule &c, const QString &slot, qint64 at)
{
    int queued = 0;
    if (!c.perBranch)
        return store.AddDelivery(c.id, slot, {}, at) ? 1 : 0;
    const auto branches = store.BranchAddresses();
    for (auto it = branches.begin(); it != branches.end(); ++it)
        queued += store.AddDelivery(c.id, slot, it.key(), at) ? 1 : 0;
    return queued;
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

QJsonObject Scheduler::ToJson(const Store::Delivery &d)
{
    return {{QStringLiteral("slot"), d.slot}, {QStringLiteral("branch"), d.branch}, {QStringLiteral("state"), d.state},
            {QStringLiteral("attempts"), d.attempts}, {QStringLiteral("error"), d.error}, {QStringLiteral("rows"), d.rows},
            {QStringLiteral("updated"), QDateTime::fromSecsSinceEpoch(d.updated, Qt::UTC).toString(Qt::ISODate)}};
}

void Scheduler::loop()
{
    std::unique_lock lock(m_lock);
    while (!m_stop) {
        lock.unlock();
        qint64 wake = now() + m_options.pollSeconds;
        try {
            wake = tick(now());
        } catch (const VelError &e) {
            note(QStringLiteral("定时发送出错：") + e.Description());
        } catch (const std::exception &) {
            note(QStringLiteral("定时发送出错，%1 秒后再试").arg(m_options.pollSeconds));
        }
        lock.lock();
        // On the system clock: a clock set forward past a slot wakes the thread.
        m_wake.wait_until(lock, std::chrono::system_clock::time_point(std::chrono::seconds(wake)),
                          [this] { return m_stop || m_woken; });
        m_woken = false;
    }
}

qint64 Scheduler::tick(qint64 at)
{
    qint64 wake = at + m_options.pollSeconds;
    for (const Store::Schedule &c : m_store.Schedules()) {
        if (!c.enabled)
            continue;
        try {
            const Cron cron(c.cron, c.zone);
            const qint64 from = std::max(c.checkedUntil, at - m_options.catchUpSeconds);
            for (auto slot = cron.Next(QDateTime::fromSecsSinceEpoch(from, Qt::UTC));
                 slot && slot->toSecsSinceEpoch() <= at; slot = cron.Next(*slot))
                Queue(m_store, c, cron.SlotName(*slot), at);
            m_store.SetCheckedUntil(c.id, at);
            if (const auto next = cron.Next(QDateTime::fromSecsSinceEpoch(at, Qt::UTC)))
                wake = std::min(wake, next->toSecsSinceEpoch());
        } catch (const VelError &e) {
            note(QStringLiteral("计划 %1：%2").arg(c.id).arg(e.Description()));
        }
    }
    for (const Store::Delivery &d : m_store.DueDeliveries(at)) {
        {
            std::lock_guard guard(m_lock);
            if (m_stop)
                return at;
        }
        if (m_store.ClaimDelivery(d, now(), now() + m_options.leaseSeconds))
            deliver(d);
    }
    if (const qint64 due = m_store.NextDue(); due > 0)
        wake = std::min(wake, std::max(due, now() + 1));
    return wake;
}

Scheduler::Produced Scheduler::produce(QJsonObject request)
{
    request.insert(QStringLiteral("props"), m_props);
    Produced p;
    p.error = QStringLiteral("报表进程意外终止，报表没有生成。");
    const std::unique_ptr<WorkerPool::Lease> lease = m_pool.Acquire(true);
    if (!lease) {
        p.status = 503;
        p.error = QStringLiteral("服务繁忙：等待运行的报表已满。");
        return p;
    }
    if (!lease->Send(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n'))
        return p;
    const auto header = WorkerProtocol::Read(lease->Frames());
    if (!header || header->type != WorkerProtocol::Frame::Header)
        return p;
    const QJsonObject head = QJsonDocument::fromJson(header->payload).object();
    if (const int status = head.value(QStringLiteral("status")).toInt(500); status != 200) {
        lease->Finish();
        p.status = status;
        p.error = head.value(QStringLiteral("error")).toString(p.error);
        return p;
    }
    p.name = head.value(QStringLiteral("name")).toString();
    for (;;) {
        const auto frame = WorkerProtocol::Read(lease->Frames());
        if (!frame || frame->type == WorkerProtocol::Frame::Header)
            return p;
        if (frame->type == WorkerProtocol::Frame::Data) {
            p.file += frame->payload;
            continue;
        }
        const QJsonObject end = QJsonDocument::fromJson(frame->payload).object();
        if (!end.value(QStringLiteral("last")).toBool())
            lease->Finish();
        p.rows = end.value(QStringLiteral("rows")).toInteger();
        p.totals = end.value(QStringLiteral("totals")).toString();
        p.period = end.value(QStringLiteral("period")).toString();
        p.status = 200;
        p.error.clear();
        return p;
    }
}

void Scheduler::deliver(Store::Delivery d)
{
    const auto c = m_store.FindSchedule(d.schedule);
    const QDate today = QDate::fromString(d.slot.left(10), Qt::ISODate);
    auto finish = [&](const QString &state, const QString &error) {
        d.state = state;
        d.error = error;
        d.updated = now();
        if (state == u"failed-transient") {
            if (d.attempts >= m_options.maxAttempts) {
                d.state = QStringLiteral("failed-permanent");
                d.error = QStringLiteral("重试 %1 次后仍未成功：").arg(d.attempts) + error;
            }
            d.nextTry = d.updated + m_options.retrySeconds * (qint64(1) << std::clamp(d.attempts - 1, 0, 10));
        }
        m_store.FinishDelivery(d);
        m_store.Audit({QStringLiteral("计划 %1").arg(d.schedule), {}, QStringLiteral("deliver"),
                       c ? QString::number(c->report) : QString(), d.slot + u' ' + d.branch, c ? c->format : QString(),
                       d.rows, d.state == u"sent" ? 200 : 500});
        if (!error.isEmpty())
            note(QStringLiteral("计划 %1 时段 %2 %3：%4").arg(d.schedule).arg(d.slot, d.branch, d.error));
    };
    if (!c)
        return finish(QStringLiteral("failed-permanent"), QStringLiteral("计划已删除"));
    const auto prepared = ServiceFilter::FromJson(c->report, c->filter, today);
    if (!prepared.errors.isEmpty())
        return finish(QStringLiteral("failed-permanent"), prepared.errors.join(u'\n'));
    if (!d.branch.isEmpty())
        if (const QString refused = ServiceFilter::RefusedAtBranch(c->report, *prepared.filter, d.branch); !refused.isEmpty())
            return finish(QStringLiteral("failed-permanent"), refused);
    const QStringList recipients = d.branch.isEmpty() ? c->to : m_store.BranchAddresses().value(d.branch);
    const QJsonObject request{{QStringLiteral("op"), QStringLiteral("run")}, {QStringLiteral("report"), c->report},
                              {QStringLiteral("filter"), QString::fromUtf8(c->filter)}, {QStringLiteral("format"), c->format},
                              {QStringLiteral("bom"), true}, {QStringLiteral("today"), today.toString(Qt::ISODate)},
                              {QStringLiteral("context"),
                               QJsonObject::fromVariantMap(Service::BranchContext(d.branch, m_sharedCards))}};
    const Produced p = produce(request);
    if (p.status != 200)
        return finish(p.status == 400 ? QStringLiteral("failed-permanent") : QStringLiteral("failed-transient"), p.error);
    d.rows = p.rows;
    const QString period = ServiceFilter::PeriodName(*prepared.filter);
    const QString fileName = QStringLiteral("%1_%2_%3%4.%5")
                                 .arg(p.name, QString::number(c->report), period,
                                      d.branch.isEmpty() ? QString() : u'_' + d.branch, c->format);
    if (!c->folder.isEmpty()) {
        try {
            QDir().mkpath(c->folder);
            AtomicFile file(QDir(c->folder).filePath(fileName));
            file.Write(p.file.constData(), size_t(p.file.size()));
            file.Commit();
        } catch (const VelError &e) {
            return finish(QStringLiteral("failed-transient"), QStringLiteral("写入文件夹 %1 失败：").arg(c->folder) + e.Description());
        }
    }
    if (!recipients.isEmpty()) {
        if (!m_options.smtp.Configured())
            return finish(QStringLiteral("failed-permanent"), QStringLiteral("没有设置邮件服务器（--smtp）"));
        const QString where = d.branch.isEmpty() ? QStringLiteral("全部分店") : QStringLiteral("分店 ") + d.branch;
        QStringList lines{QStringLiteral("报表：%1（%2）").arg(p.name).arg(c->report), p.period,
                          QStringLiteral("范围：") + where, QStringLiteral("行数：%1").arg(p.rows)};
        if (!p.totals.isEmpty())
            lines << p.totals;
        MailMessage m;
        const bool big = p.file.size() > m_options.attachLimit;
        if (big) {
            const QString link = m_options.portalUrl.isEmpty() ? QString()
                                                               : portalLink(m_options.portalUrl, c->report, c->filter, today);
            lines << QStringLiteral("文件 %1 有 %2 MB，超过附件上限，没有附上；请在报表门户查看%3")
                         .arg(fileName).arg(double(p.file.size()) / (1024 * 1024), 0, 'f', 1)
                         .arg(link.isEmpty() ? QStringLiteral("。") : QStringLiteral("：") + link);
        } else {
            m.attachmentName = fileName;
            m.attachmentType = ServiceFilter::ContentType(c->format);
            m.attachment = p.file;
        }
        m.from = m_options.smtp.from;
        m.to = recipients;
        m.subject = QStringLiteral("%1 %2 %3").arg(p.name, period, where);
        m.text = QStringLiteral("您好：\n\n这是定时发送的报表。\n\n") + lines.join(u'\n') + u'\n';
        QString html = QStringLiteral("<p>您好：</p><p>这是定时发送的报表。</p><ul>");
        for (const QString &line : lines)
            html += QStringLiteral("<li>%1</li>").arg(line.toHtmlEscaped());
        m.html = QStringLiteral("<!DOCTYPE html><html><body>") + html + QStringLiteral("</ul></body></html>");
        m.messageId = QStringLiteral("velvip.%1.%2.%3@%4")
                          .arg(d.schedule)
                          .arg(QString(d.slot).remove(u':'), d.branch.isEmpty() ? QStringLiteral("all") : d.branch,
                               QSysInfo::machineHostName());
        const SmtpResult sent = SendMail(m_options.smtp, recipients, m.Render());
        if (sent.outcome != SmtpResult::Sent)
            return finish(sent.outcome == SmtpResult::Permanent ? QStringLiteral("failed-permanent")
                                                                : QStringLiteral("failed-transient"),
                          sent.error);
    } else if (c->folder.isEmpty()) {
        return finish(QStringLiteral("failed-permanent"), QStringLiteral("分店 %1 没有设置了电子邮件的用户").arg(d.branch));
    }
    finish(QStringLiteral("sent"), {});
}
