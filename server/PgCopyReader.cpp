#include "PgCopyReader.h"

#include "Utf8Text.h"
#include "VelError.h"

#include <QtEndian>

#include <charconv>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace {

enum : Oid {
    boolOid = 16, nameOid = 19, int8Oid = 20, int2Oid = 21, int4Oid = 23, textOid = 25,
    bpcharOid = 1042, varcharOid = 1043, numericOid = 1700,
};

// Column types whose binary form the cursor reads.
bool decoded(Oid type)
{
    switch (type) {
    case boolOid: case int2Oid: case int4Oid: case int8Oid: case numericOid:
    case textOid: case varcharOid: case bpcharOid: case nameOid:
        return true;
    }
    return false;
}

using ResultPtr = std::unique_ptr<PGresult, decltype(&PQclear)>;

// The next result of the command in flight, null when it is done; throws once the deadline passed.
PGresult *nextResult(PGconn *conn, const PgCopyReader::Session &session)
{
    if (!session.deadline.WaitReadable(conn)) {
        session.abandon();
        throw VelError(Vel::ErrorKind::Timeout, session.timeoutText());
    }
    return PQgetResult(conn);
}

// The results of the command in flight until the connection is idle; the first one kept.
ResultPtr finish(PGconn *conn, const PgCopyReader::Session &session)
{
    ResultPtr first(nextResult(conn, session), &PQclear);
    while (PGresult *more = nextResult(conn, session))
        PQclear(more);
    return first;
}

void expect(const ResultPtr &result, ExecStatusType status, const PgCopyReader::Session &session)
{
    if (!result || PQresultStatus(result.get()) != status)
        session.fail(result.get());
}

// A numeric's binary form (base-10000 digits) as the text the server prints.
void numericText(const char *d, std::string &out)
{
    auto word = [&](int at) { return qFromBigEndian<quint16>(d + at); };
    const int digits = qint16(word(0));
    const int weight = qint16(word(2));
    const quint16 sign = word(4);
    const int scale = word(6);
    out.clear();
    if (sign == 0xC000) { out = "NaN"; return; }
    if (sign == 0xD000) { out = "Infinity"; return; }
    if (sign == 0xF000) { out = "-Infinity"; return; }
    if (sign == 0x4000)
        out += '-';
    auto digit = [&](int i) { return i >= 0 && i < digits ? int(word(8 + 2 * i)) : 0; };
    char group[8];
    if (weight < 0)
        out += '0';
    for (int i = 0; i <= weight; ++i) {
        const int v = digit(i);
        if (i == 0) {
            out.append(group, std::to_chars(group, group + sizeof group, v).ptr);
        } else {
            for (int k = 3, x = v; k >= 0; --k, x /= 10)
                group[k] = char('0' + x % 10);
            out.append(group, 4);
        }
    }
    if (scale > 0) {
        out += '.';
        const size_t point = out.size();
        for (int i = weight + 1; out.size() - point < size_t(scale); ++i) {
            for (int k = 3, x = digit(i); k >= 0; --k, x /= 10)
                group[k] = char('0' + x % 10);
            out.append(group, 4);
        }
        out.resize(point + size_t(scale));
    }
}

// Values of one row in the server's binary form, read in place.
class BinaryRow : public RowCursor
{
public:
    explicit BinaryRow(std::vector<Oid> types)
        : m_types(std::move(types)), m_fields(m_types.size()), m_texts(m_types.size()) {}

    bool IsNull(int c) const override { return m_fields[size_t(c)].size < 0; }

    qint64 Int(int c) const override
    {
        const Field &f = m_fields[size_t(c)];
        switch (m_types[size_t(c)]) {
        case int8Oid: return qint64(qFromBigEndian<quint64>(f.data));
        case int4Oid: return qint32(qFromBigEndian<quint32>(f.data));
        case int2Oid: return qint16(qFromBigEndian<quint16>(f.data));
        case boolOid: return f.data[0] != 0;
        }
        return PgCopyReader::TextInt(decimal(c));
    }

    double Double(int c) const override
    {
        switch (m_types[size_t(c)]) {
        case int8Oid: case int4Oid: case int2Oid: case boolOid:
            return double(Int(c));
        }
        return std::strtod(decimal(c), nullptr);
    }

    QStringView Text(int c) const override
    {
        const Field &f = m_fields[size_t(c)];
        if (f.size < 0)
            return {};
        switch (m_types[size_t(c)]) {
        case textOid: case varcharOid: case bpcharOid: case nameOid: {
            // Codes, names and dates repeat down a column (a bill's lines): the row before's
            // text is given again without widening it.
            LastText &last = m_texts[size_t(c)];
            const bool same = last.row + 1 == m_row && last.size == f.size
                && std::memcmp(last.data, f.data, size_t(f.size)) == 0;
            last.row = m_row;
            last.data = f.data;
            last.size = f.size;
            if (!same)
                last.wide = last.text.Widen(f.data, f.size);
            return last.wide;
        }
        case boolOid:
            return f.data[0] ? QStringView(u"t") : QStringView(u"f");
        }
        const char *p = decimal(c);
        return m_text.Widen(p, int(std::strlen(p)));
    }

    QStringView TextOrNull(int c) const override
    {
        if (m_fields[size_t(c)].size < 0)
            return {};
        const QStringView text = BinaryRow::Text(c);
        return text.isNull() ? QStringView(u"") : text;
    }

protected:
    struct Field {
        const char *data = nullptr;
        int size = -1;
    };

    // A column's value as decimal text (numbers held as numeric or text), ended by a NUL.
    const char *decimal(int c) const
    {
        const Field &f = m_fields[size_t(c)];
        switch (m_types[size_t(c)]) {
        case int8Oid: case int4Oid: case int2Oid: {
            char digits[24];
            m_scratch.assign(digits, std::to_chars(digits, digits + sizeof digits, Int(c)).ptr);
            break;
        }
        case numericOid:
            numericText(f.data, m_scratch);
            break;
        default:
            m_scratch.assign(f.data, size_t(std::max(f.size, 0)));
        }
        return m_scratch.c_str();
    }

    // A text column's value in the row it was last read, as sent (in that row's message, which
    // the cursor keeps until the row after it is read) and widened.
    struct LastText {
        qint64 row = -2;
        const char *data = nullptr;
        int size = 0;
        Utf8Text text;
        QStringView wide;
    };

    // Counts the rows read; the row before's message is kept until the next one is read.
    qint64 m_row = 0;

    std::vector<Oid> m_types;
    std::vector<Field> m_fields;
    mutable std::vector<LastText> m_texts;
    Utf8Text m_text;
    mutable std::string m_scratch;
};

// The rows of a binary COPY, one CopyData message each (the file header comes with the first).
class CopyCursor final : public BinaryRow
{
public:
    CopyCursor(PGconn *conn, std::vector<Oid> types, PgCopyReader::Session session)
        : BinaryRow(std::move(types)), m_conn(conn), m_session(std::move(session)) {}

    ~CopyCursor() override
    {
        PQfreemem(m_before);
        PQfreemem(m_message);
        if (m_done)
            return;
        // Left before the end: the server stops the query rather than sending the rest.
        if (PgCopyReader::ReadArrived(m_conn))
            return;
        PgCopyReader::CancelRunning(m_conn);
        // What is left, within a grace for a server that got the cancel request.
        const PgDeadline grace = PgDeadline::After(1);
        for (;;) {
            char *row = nullptr;
            const int n = PQgetCopyData(m_conn, &row, 1);
            PQfreemem(row);
            if (n < 0)
                break;
            if (n == 0 && (!grace.WaitInput(m_conn) || PQstatus(m_conn) == CONNECTION_BAD)) {
                m_session.abandon();
                return;
            }
        }
        try {
            PgCopyReader::Session drain = m_session;
            drain.deadline = grace;
            finish(m_conn, drain);
        } catch (const VelError &) {
        }
    }

    bool Next() override
    {
        // The row before stays readable for the repeat test of the text columns, however
        // long the next one takes to come.
        PQfreemem(m_before);
        m_before = std::exchange(m_message, nullptr);
        for (;;) {
            if (m_done)
                return false;
            const int n = PQgetCopyData(m_conn, &m_message, 1);
            if (n > 0) {
                if (parse(m_message, n)) {
                    ++m_row;
                    return true;
                }
                PQfreemem(std::exchange(m_message, nullptr));   // the trailer, or a header alone
                continue;
            }
            if (n == 0) {
                if (!m_session.deadline.WaitInput(m_conn)) {
                    m_done = true;
                    m_session.abandon();
                    throw VelError(Vel::ErrorKind::Timeout, m_session.timeoutText());
                }
                if (PQstatus(m_conn) == CONNECTION_BAD) {
                    m_done = true;
                    m_session.fail(nullptr);
                }
                continue;
            }
            // The end of the COPY, or its failure: the command's result says which.
            m_done = true;
            const ResultPtr result = finish(m_conn, m_session);
            expect(result, PGRES_COMMAND_OK, m_session);
            return false;
        }
    }

private:
    // Points the fields into one row's message; false for a message without a row.
    bool parse(const char *p, int size)
    {
        const char *end = p + size;
        if (!m_headerRead) {
            static const char signature[] = "PGCOPY\n\377\r\n";
            if (size < 19 || std::memcmp(p, signature, 11) != 0)
                throw VelError(QStringLiteral("数据库服务器发来的 COPY 数据无法识别"));
            p += 19 + qFromBigEndian<quint32>(p + 15);
            m_headerRead = true;
            if (p >= end)
                return false;
        }
        const int count = qint16(qFromBigEndian<quint16>(p));
        if (count == -1)
            return false;   // the trailer
        p += 2;
        if (count != int(m_fields.size()))
            throw VelError(QStringLiteral("数据库服务器发来的 COPY 数据无法识别"));
        for (Field &f : m_fields) {
            if (p + 4 > end)
                throw VelError(QStringLiteral("数据库服务器发来的 COPY 数据无法识别"));
            f.size = qint32(qFromBigEndian<quint32>(p));
            f.data = p + 4;
            p += 4 + std::max(f.size, 0);
        }
        if (p > end)
            throw VelError(QStringLiteral("数据库服务器发来的 COPY 数据无法识别"));
        return true;
    }

    PGconn *m_conn;
    PgCopyReader::Session m_session;
    char *m_message = nullptr;
    char *m_before = nullptr;
    bool m_headerRead = false;
    bool m_done = false;
};

// The rows of an extended-protocol query in single-row mode, its values in binary form: the
// filter values are bound parameters the planner sees (partitions pruned while planning).
class ResultCursor final : public BinaryRow
{
public:
    ResultCursor(PGconn *conn, std::vector<Oid> types, PgCopyReader::Session session)
        : BinaryRow(std::move(types)), m_conn(conn), m_session(std::move(session)) {}

    ~ResultCursor() override
    {
        PQclear(m_before);
        PQclear(m_result);
        if (m_done)
            return;
        // Left before the end: the server stops the query rather than sending the rest, and
        // what is left is read within a grace for it.
        if (PgCopyReader::ReadArrived(m_conn))
            return;
        PgCopyReader::CancelRunning(m_conn);
        try {
            PgCopyReader::Session drain = m_session;
            drain.deadline = PgDeadline::After(1);
            finish(m_conn, drain);
        } catch (const VelError &) {
        }
    }

    bool Next() override
    {
        // The row before stays readable for the repeat test of the text columns.
        PQclear(m_before);
        m_before = std::exchange(m_result, nullptr);
        if (m_done)
            return false;
        PGresult *result = nextResult(m_conn, m_session);
        if (result && PQresultStatus(result) == PGRES_SINGLE_TUPLE) {
            m_result = result;
            ++m_row;
            for (size_t c = 0; c < m_fields.size(); ++c) {
                Field &f = m_fields[c];
                // Only an empty value can be a null: most values skip that call.
                const int size = PQgetlength(result, 0, int(c));
                f.size = size == 0 && PQgetisnull(result, 0, int(c)) ? -1 : size;
                f.data = PQgetvalue(result, 0, int(c));
            }
            return true;
        }
        // The end, or the query's failure: its result says which.
        m_done = true;
        ResultPtr last(result, &PQclear);
        finish(m_conn, m_session);
        expect(last, PGRES_TUPLES_OK, m_session);
        return false;
    }

private:
    PGconn *m_conn;
    PgCopyReader::Session m_session;
    PGresult *m_result = nullptr;
    PGresult *m_before = nullptr;
    bool m_done = false;
};

} // namespace

namespace PgCopyReader {

QByteArray Numbered(const QString &sql, const std::function<QByteArray(int)> &param)
{
    QByteArray out;
    out.reserve(sql.size() + 16);
    int n = 0;
    qsizetype from = 0;
    QChar quote;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql[i];
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == u'\'' || c == u'"') {
            quote = c;
        } else if (c == u'?') {
            out += QStringView(sql).mid(from, i - from).toUtf8();
            out += param(++n);
            from = i + 1;
        }
    }
    out += QStringView(sql).mid(from).toUtf8();
    return out;
}

bool ReadArrived(PGconn *conn)
{
    if (!PQconsumeInput(conn))
        return false;
    while (!PQisBusy(conn)) {
        PGresult *r = PQgetResult(conn);
        if (!r)
            return true;
        const ExecStatusType status = PQresultStatus(r);
        PQclear(r);
        if (status == PGRES_COPY_OUT) {
            char *row = nullptr;
            int n = 0;
            while ((n = PQgetCopyData(conn, &row, 1)) > 0)
                PQfreemem(row);
            if (n != -1)
                return false;   // more to come, or a failure the caller's drain meets
        } else if (status == PGRES_COPY_IN || status == PGRES_COPY_BOTH) {
            return false;
        }
    }
    return false;
}

void CancelRunning(PGconn *conn)
{
    PGcancel *cancel = PQgetCancel(conn);
    if (!cancel)
        return;
    // PQcancel waits until the server closes the request's connection, which a stopped
    // postmaster never does: it runs on a thread of its own, waited for a second at most.
    auto sent = std::make_shared<std::promise<void>>();
    std::future<void> done = sent->get_future();
    std::thread([cancel, sent] {
        char error[256];
        PQcancel(cancel, error, sizeof error);
        PQfreeCancel(cancel);
        sent->set_value();
    }).detach();
    done.wait_for(std::chrono::seconds(1));
}

qint64 TextInt(const char *p)
{
    if (p[0] == 't' && p[1] == 0)
        return 1;
    char *end = nullptr;
    const long long value = std::strtoll(p, &end, 10);
    if (*end == 0)
        return value;
    return qint64(std::strtod(p, nullptr));    // a numeric with a fraction
}

std::unique_ptr<RowCursor> Open(PGconn *conn, const QString &sql, const Params &params, const Session &session)
{
    // COPY takes a query, not EXPLAIN or SHOW.
    const QString start = sql.trimmed().left(6).toUpper();
    if (!start.startsWith(u"SELECT") && !start.startsWith(u"WITH"))
        return nullptr;
    const int count = int(params.values.size());
    // The query's parameter and column types, from the server's parse of it.
    const QByteArray select = Numbered(sql, [](int n) { return '$' + QByteArray::number(n); });
    if (!PQsendPrepare(conn, "", select.constData(), count, params.types.data()))
        session.fail(nullptr);
    expect(finish(conn, session), PGRES_COMMAND_OK, session);
    if (!PQsendDescribePrepared(conn, ""))
        session.fail(nullptr);
    const ResultPtr shape = finish(conn, session);
    expect(shape, PGRES_COMMAND_OK, session);
    std::vector<Oid> columns;
    for (int c = 0; c < PQnfields(shape.get()); ++c) {
        columns.push_back(PQftype(shape.get(), c));
        if (!decoded(columns.back()))
            return nullptr;
    }

    if (count > 0) {
        // Values to bind: the statement just prepared runs with them, so that the planner
        // prunes partitions and compares with constants. A COPY would have to read them
        // back from settings on every row and plan every partition.
        if (!PQsendQueryPrepared(conn, "", count, params.pointers.data(), nullptr, nullptr, 1))
            session.fail(nullptr);
        PQsetSingleRowMode(conn);
        return std::make_unique<ResultCursor>(conn, std::move(columns), session);
    }
    // Nothing to bind: the rows come as a binary COPY, one message each with no result object.
    const QByteArray copy = "COPY (" + select + ") TO STDOUT (FORMAT binary)";
    if (!PQsendQuery(conn, copy.constData()))
        session.fail(nullptr);
    ResultPtr started(nextResult(conn, session), &PQclear);
    if (!started || PQresultStatus(started.get()) != PGRES_COPY_OUT) {
        const ResultPtr rest = finish(conn, session);
        expect(started ? std::move(started) : std::move(rest), PGRES_COPY_OUT, session);
    }
    return std::make_unique<CopyCursor>(conn, std::move(columns), session);
}

} // namespace PgCopyReader
