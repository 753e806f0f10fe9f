#include "WorkerProtocol.h"

#include <QCborMap>
#include <QCborStreamReader>
#include <QCborStreamWriter>
#include <QCborValue>
#include <QStringDecoder>

#include <cerrno>
#include <limits>

#include <poll.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

bool readAll(int fd, char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::read(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// The map of a payload; an empty map when it is not exactly one CBOR map.
QCborMap mapOf(const QByteArray &bytes)
{
    QCborStreamReader reader(bytes);
    if (!reader.isMap())
        return {};
    const QCborValue value = QCborValue::fromCbor(reader);
    const bool whole = reader.lastError() == QCborError::NoError && reader.currentOffset() == bytes.size();
    return whole && value.isMap() ? value.toMap() : QCborMap();
}

// Field readers that refuse a value of another type.
bool readInt(const QCborMap &m, QLatin1StringView key, qint64 &out, qint64 low, qint64 high)
{
    const QCborValue v = m.value(key);
    if (!v.isInteger() || v.toInteger() < low || v.toInteger() > high)
        return false;
    out = v.toInteger();
    return true;
}

bool readText(const QCborMap &m, QLatin1StringView key, QString &out)
{
    const QCborValue v = m.value(key);
    if (v.isUndefined())
        return true;
    if (!v.isString())
        return false;
    out = v.toString();
    return true;
}

bool readBool(const QCborMap &m, QLatin1StringView key, bool &out)
{
    const QCborValue v = m.value(key);
    if (v.isUndefined())
        return true;
    if (!v.isBool())
        return false;
    out = v.toBool();
    return true;
}

bool readBytes(const QCborMap &m, QLatin1StringView key, QByteArray &out)
{
    const QCborValue v = m.value(key);
    if (v.isUndefined())
        return true;
    if (!v.isByteArray())
        return false;
    out = v.toByteArray();
    return true;
}

constexpr qint64 kMaxInt = std::numeric_limits<qint32>::max();
constexpr qint64 kMaxId = std::numeric_limits<qint64>::max();

} // namespace

namespace WorkerProtocol {

bool HasControl(QStringView text)
{
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

QString BodyProblem(QByteArrayView body)
{
    if (body.size() > MaxBody)
        return QStringLiteral("请求太大（最多 %1 KB）").arg(MaxBody / 1024);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8.decode(body);
    if (utf8.hasError())
        return QStringLiteral("请求不是有效的 UTF-8 文本");
    // Tab and line ends may lay out JSON; inside a text value HasControl finds them.
    if (HasControl(QString(decoded).remove(u'\t').remove(u'\n').remove(u'\r')))
        return QStringLiteral("请求含有控制字符（除制表符和换行外的 U+0000 至 U+001F、U+007F）");
    return {};
}

QByteArray WorkerRequest::Encode() const
{
    QCborMap m{{QLatin1StringView("id"), qint64(id)}, {QLatin1StringView("op"), int(op)},
               {QLatin1StringView("user"), user}, {QLatin1StringView("branch"), branch},
               {QLatin1StringView("sharedCards"), sharedCards}, {QLatin1StringView("props"), props}};
    if (op == Op::Lookup) {
        m.insert(QLatin1StringView("lookupType"), lookupType);
        m.insert(QLatin1StringView("condition"), condition);
        m.insert(QLatin1StringView("text"), text);
        m.insert(QLatin1StringView("offset"), offset);
        m.insert(QLatin1StringView("limit"), limit);
    } else {
        m.insert(QLatin1StringView("report"), report);
        m.insert(QLatin1StringView("filter"), filter);
        m.insert(QLatin1StringView("today"), today.toString(Qt::ISODate));
        m.insert(QLatin1StringView("format"), format);
        m.insert(QLatin1StringView("bom"), bom);
        m.insert(QLatin1StringView("rowsFirst"), rowsFirst);
        m.insert(QLatin1StringView("row"), row);
    }
    return m.toCborValue().toCbor();
}

std::optional<WorkerRequest> WorkerRequest::Decode(const QByteArray &payload)
{
    const QCborMap m = mapOf(payload);
    WorkerRequest r;
    qint64 id = 0, op = 0;
    if (!readInt(m, QLatin1StringView("id"), id, 1, kMaxId) || !readInt(m, QLatin1StringView("op"), op, 1, 3)
        || !readText(m, QLatin1StringView("user"), r.user) || !readText(m, QLatin1StringView("branch"), r.branch)
        || !readBool(m, QLatin1StringView("sharedCards"), r.sharedCards) || !readText(m, QLatin1StringView("props"), r.props))
        return std::nullopt;
    r.id = quint64(id);
    r.op = Op(op);
    if (r.op == Op::Lookup) {
        qint64 type = 0, offset = 0, limit = 0;
        if (!readInt(m, QLatin1StringView("lookupType"), type, 0, kMaxInt) || !readText(m, QLatin1StringView("condition"), r.condition)
            || !readText(m, QLatin1StringView("text"), r.text) || !readInt(m, QLatin1StringView("offset"), offset, 0, kMaxInt)
            || !readInt(m, QLatin1StringView("limit"), limit, 0, kMaxInt))
            return std::nullopt;
        r.lookupType = qint32(type);
        r.offset = qint32(offset);
        r.limit = qint32(limit);
        return r;
    }
    qint64 report = 0, row = -1;
    QString today;
    if (!readInt(m, QLatin1StringView("report"), report, 0, kMaxInt) || !readBytes(m, QLatin1StringView("filter"), r.filter)
        || !readText(m, QLatin1StringView("today"), today) || !readText(m, QLatin1StringView("format"), r.format)
        || !readBool(m, QLatin1StringView("bom"), r.bom) || !readBool(m, QLatin1StringView("rowsFirst"), r.rowsFirst)
        || !readInt(m, QLatin1StringView("row"), row, -1, kMaxId))
        return std::nullopt;
    r.report = qint32(report);
    r.row = row;
    r.today = QDate::fromString(today, Qt::ISODate);
    return r;
}

// Written field by field: a data piece goes from its buffer into the frame in one copy.
QByteArray WorkerAnswer::Encode() const
{
    QByteArray out;
    out.reserve(data.size() + 64 + 3 * (user.size() + name.size() + sentence.size() + totals.size() + period.size()));
    QCborStreamWriter w(&out);
    const auto key = [&w](const char *name) { w.append(QLatin1StringView(name)); };
    w.startMap();
    key("id");
    w.append(qint64(id));
    key("user");
    w.append(user);
    key("kind");
    w.append(qint64(kind));
    switch (kind) {
    case FrameKind::Head:
        key("name");
        w.append(name);
        break;
    case FrameKind::Data:
        key("data");
        w.appendByteString(data.constData(), data.size());
        break;
    case FrameKind::End:
        key("rows");
        w.append(rows);
        key("totals");
        w.append(totals);
        key("period");
        w.append(period);
        key("last");
        w.append(last);
        break;
    case FrameKind::Failure:
        key("error");
        w.append(qint64(error));
        key("sentence");
        w.append(sentence);
        break;
    }
    w.endMap();
    return out;
}

std::optional<WorkerAnswer> WorkerAnswer::Decode(const QByteArray &payload)
{
    const QCborMap m = mapOf(payload);
    WorkerAnswer a;
    qint64 id = 0, kind = 0, error = 0;
    if (!readInt(m, QLatin1StringView("id"), id, 1, kMaxId) || !readInt(m, QLatin1StringView("kind"), kind, 1, 4)
        || !readText(m, QLatin1StringView("user"), a.user))
        return std::nullopt;
    a.id = quint64(id);
    a.kind = FrameKind(kind);
    bool ok = true;
    switch (a.kind) {
    case FrameKind::Head:
        ok = readText(m, QLatin1StringView("name"), a.name);
        break;
    case FrameKind::Data:
        ok = readBytes(m, QLatin1StringView("data"), a.data);
        break;
    case FrameKind::End:
        ok = readInt(m, QLatin1StringView("rows"), a.rows, 0, kMaxId) && readText(m, QLatin1StringView("totals"), a.totals)
             && readText(m, QLatin1StringView("period"), a.period) && readBool(m, QLatin1StringView("last"), a.last);
        break;
    case FrameKind::Failure:
        ok = readInt(m, QLatin1StringView("error"), error, 0, Vel::ErrorKindCount - 1)
             && readText(m, QLatin1StringView("sentence"), a.sentence);
        a.error = Vel::ErrorKind(error);
        break;
    }
    return ok ? std::optional(a) : std::nullopt;
}

WorkerAnswer WorkerAnswer::Failed(const WorkerRequest &request, Vel::ErrorKind kind, QString sentence)
{
    WorkerAnswer a;
    a.id = request.id;
    a.user = request.user;
    a.kind = FrameKind::Failure;
    a.error = kind;
    a.sentence = std::move(sentence);
    return a;
}

int StatusOf(Vel::ErrorKind kind)
{
    switch (kind) {
    case Vel::ErrorKind::BadFilter:
        return 400;
    case Vel::ErrorKind::NotFound:
        return 404;
    case Vel::ErrorKind::Timeout:
        return 504;
    case Vel::ErrorKind::Unavailable:
        return 503;
    case Vel::ErrorKind::Cancelled:   // stopped on the service's side: the client learns no more
    case Vel::ErrorKind::Internal:
        break;
    }
    return 500;
}

bool WriteFrame(int fd, const QByteArray &payload)
{
    const quint32 size = quint32(payload.size());
    const char head[4] = {char(size >> 24), char((size >> 16) & 0xff), char((size >> 8) & 0xff), char(size & 0xff)};
    return writeAll(fd, head, sizeof head) && writeAll(fd, payload.constData(), size_t(payload.size()));
}

std::optional<QByteArray> ReadFrame(int fd, quint32 limit, Fault &fault, int timeoutMs)
{
    fault = Fault::None;
    if (timeoutMs >= 0) {
        pollfd p{fd, POLLIN, 0};
        int rc;
        while ((rc = ::poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
        }
        if (rc == 0) {
            fault = Fault::TimedOut;
            return std::nullopt;
        }
    }
    unsigned char head[4];
    if (!readAll(fd, reinterpret_cast<char *>(head), sizeof head)) {
        fault = Fault::Closed;
        return std::nullopt;
    }
    const quint32 size = quint32(head[0]) << 24 | quint32(head[1]) << 16 | quint32(head[2]) << 8 | quint32(head[3]);
    if (size > limit) {
        fault = Fault::TooLarge;
        return std::nullopt;
    }
    QByteArray payload(qsizetype(size), Qt::Uninitialized);
    if (!readAll(fd, payload.data(), size)) {
        fault = Fault::Closed;
        return std::nullopt;
    }
    return payload;
}

std::optional<WorkerAnswer> ReadAnswer(int fd, const WorkerRequest &request, Fault &fault)
{
    const auto payload = ReadFrame(fd, MaxAnswerFrame, fault);
    if (!payload)
        return std::nullopt;
    auto answer = WorkerAnswer::Decode(*payload);
    if (!answer) {
        fault = Fault::Malformed;
        return std::nullopt;
    }
    if (answer->id != request.id || answer->user != request.user) {
        fault = Fault::OutOfTurn;
        return std::nullopt;
    }
    return answer;
}

} // namespace WorkerProtocol
