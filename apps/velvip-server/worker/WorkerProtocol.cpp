#include "WorkerProtocol.h"

#include <QCborMap>
#include <QCborStreamReader>
#include <QCborStreamWriter>
#include <QCborValue>
#include <QStringDecoder>

#include <cerrno>
#include <limits>
#include <type_traits>

#include <poll.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Moves all `size` bytes through `io` (::read or ::write), again after a signal; false when the
// other side is gone.
template <typename Io, typename Byte>
bool transferAll(Io io, int fd, Byte *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = io(fd, data, size);
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

// Reads a message's fields in turn: an integer out of its range, or a field of another type,
// makes the whole message unusable. A text, switch or bytes field may be absent.
class FieldReader
{
public:
    explicit FieldReader(const QByteArray &payload) : m_map(mapOf(payload)) {}

    FieldReader &integer(const char *key, qint64 &out, qint64 low, qint64 high)
    {
        const QCborValue v = m_map.value(QLatin1StringView(key));
        if (!v.isInteger() || v.toInteger() < low || v.toInteger() > high)
            m_ok = false;
        else
            out = v.toInteger();
        return *this;
    }

    template <typename T>
    FieldReader &optional(const char *key, T &out)
    {
        static_assert(std::is_same_v<T, QString> || std::is_same_v<T, bool> || std::is_same_v<T, QByteArray>);
        const QCborValue v = m_map.value(QLatin1StringView(key));
        if (v.isUndefined())
            return *this;
        const bool fits = std::is_same_v<T, bool> ? v.isBool() : std::is_same_v<T, QString> ? v.isString() : v.isByteArray();
        if (fits)
            out = qvariant_cast<T>(v.toVariant());
        m_ok = m_ok && fits;
        return *this;
    }

    bool ok() const { return m_ok; }

private:
    QCborMap m_map;
    bool m_ok = true;
};

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
    QCborMap m{{"id"_L1, qint64(id)}, {"op"_L1, int(op)}, {"user"_L1, user}, {"branch"_L1, branch},
               {"sharedCards"_L1, sharedCards}, {"props"_L1, props}};
    const QList<QPair<QLatin1StringView, QCborValue>> rest = op == Op::Lookup
        ? QList<QPair<QLatin1StringView, QCborValue>>{{"lookupType"_L1, lookupType}, {"condition"_L1, condition},
                                                      {"text"_L1, text}, {"offset"_L1, offset}, {"limit"_L1, limit}}
        : QList<QPair<QLatin1StringView, QCborValue>>{{"report"_L1, report}, {"filter"_L1, filter},
                                                      {"today"_L1, today.toString(Qt::ISODate)}, {"format"_L1, format},
                                                      {"bom"_L1, bom}, {"rowsFirst"_L1, rowsFirst}, {"sort"_L1, sort},
                                                      {"descending"_L1, descending}, {"row"_L1, row}};
    for (const auto &[key, value] : rest)
        m.insert(key, value);
    return m.toCborValue().toCbor();
}

std::optional<WorkerRequest> WorkerRequest::Decode(const QByteArray &payload)
{
    FieldReader in(payload);
    WorkerRequest r;
    qint64 id = 0, op = 0;
    if (!in.integer("id", id, 1, kMaxId).integer("op", op, 1, 3).optional("user", r.user).optional("branch", r.branch)
             .optional("sharedCards", r.sharedCards).optional("props", r.props).ok())
        return std::nullopt;
    r.id = quint64(id);
    r.op = Op(op);
    if (r.op == Op::Lookup) {
        qint64 type = 0, offset = 0, limit = 0;
        if (!in.integer("lookupType", type, 0, kMaxInt).optional("condition", r.condition).optional("text", r.text)
                 .integer("offset", offset, 0, kMaxInt).integer("limit", limit, 0, kMaxInt).ok())
            return std::nullopt;
        r.lookupType = qint32(type);
        r.offset = qint32(offset);
        r.limit = qint32(limit);
        return r;
    }
    qint64 report = 0, row = -1;
    QString today;
    if (!in.integer("report", report, 0, kMaxInt).optional("filter", r.filter).optional("today", today)
             .optional("format", r.format).optional("bom", r.bom).optional("rowsFirst", r.rowsFirst)
             .optional("sort", r.sort).optional("descending", r.descending)
             .integer("row", row, -1, kMaxId).ok())
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
    FieldReader in(payload);
    WorkerAnswer a;
    qint64 id = 0, kind = 0, error = 0;
    if (!in.integer("id", id, 1, kMaxId).integer("kind", kind, 1, 4).optional("user", a.user).ok())
        return std::nullopt;
    a.id = quint64(id);
    a.kind = FrameKind(kind);
    switch (a.kind) {
    case FrameKind::Head:
        in.optional("name", a.name);
        break;
    case FrameKind::Data:
        in.optional("data", a.data);
        break;
    case FrameKind::End:
        in.integer("rows", a.rows, 0, kMaxId).optional("totals", a.totals).optional("period", a.period).optional("last", a.last);
        break;
    case FrameKind::Failure:
        in.integer("error", error, 0, Vel::ErrorKindCount - 1).optional("sentence", a.sentence);
        a.error = Vel::ErrorKind(error);
        break;
    }
    return in.ok() ? std::optional(a) : std::nullopt;
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
    case Vel::ErrorKind::Cancelled:   // stopped on the service's side (a stop, an operator), not by
        return 503;                   // the client, who left (499 in the audit): it may try again
    case Vel::ErrorKind::Internal:
        break;
    }
    return 500;
}

bool WriteFrame(int fd, const QByteArray &payload)
{
    const quint32 size = quint32(payload.size());
    const char head[4] = {char(size >> 24), char((size >> 16) & 0xff), char((size >> 8) & 0xff), char(size & 0xff)};
    return transferAll(::write, fd, head, sizeof head) && transferAll(::write, fd, payload.constData(), size_t(payload.size()));
}

std::optional<QByteArray> ReadFrame(int fd, quint32 limit, Fault &fault, int timeoutMs, int stop)
{
    fault = Fault::None;
    // Waits for bytes of the frame (the first within timeoutMs), then reads them all.
    const auto readAll = [&](auto *data, size_t size, int waitMs) {
        while (size > 0) {
            if (waitMs >= 0 || stop >= 0) {
                pollfd p[2] = {{fd, POLLIN, 0}, {stop, POLLIN, 0}};
                int rc;
                while ((rc = ::poll(p, stop >= 0 ? 2 : 1, waitMs)) < 0 && errno == EINTR) {
                }
                if (rc == 0 || (stop >= 0 && p[1].revents)) {
                    fault = rc == 0 ? Fault::TimedOut : Fault::Stopped;
                    return false;
                }
            }
            const ssize_t n = ::read(fd, data, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                fault = Fault::Closed;
                return false;
            }
            data += n;
            size -= size_t(n);
            waitMs = -1;
        }
        return true;
    };
    unsigned char head[4];
    if (!readAll(head, sizeof head, timeoutMs))
        return std::nullopt;
    const quint32 size = quint32(head[0]) << 24 | quint32(head[1]) << 16 | quint32(head[2]) << 8 | quint32(head[3]);
    if (size > limit) {
        fault = Fault::TooLarge;
        return std::nullopt;
    }
    QByteArray payload(qsizetype(size), Qt::Uninitialized);
    if (!readAll(payload.data(), size, -1))
        return std::nullopt;
    return payload;
}

std::optional<WorkerAnswer> ReadAnswer(int fd, const WorkerRequest &request, Fault &fault, int stop)
{
    const auto payload = ReadFrame(fd, MaxAnswerFrame, fault, -1, stop);
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
