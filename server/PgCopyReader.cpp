#include "PgCopyReader.h"

#include "Utf8Text.h"
#include "VelError.h"

#include <QtEndian>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <cctype>
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
            if (m_record) {
                readRecord(PQgetvalue(result, 0, 0), PQgetlength(result, 0, 0));
                return true;
            }
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

    // The row comes as one record value (ROW(...) of the columns).
    void SetRecord() { m_record = true; }

private:
    // A record's binary form: the column count, then each column's type, length (-1: null) and bytes.
    void readRecord(const char *p, int size)
    {
        const char *end = p + size;
        auto int32 = [&](const char *at) { return qint32(qFromBigEndian<quint32>(at)); };
        if (size < 4 || int32(p) != int(m_fields.size()))
            throw VelError(QStringLiteral("服务器返回的行格式不对"));
        p += 4;
        for (Field &f : m_fields) {
            if (end - p < 8)
                throw VelError(QStringLiteral("服务器返回的行格式不对"));
            f.size = int32(p + 4);
            p += 8;
            f.data = p;
            if (f.size > 0) {
                if (end - p < f.size)
                    throw VelError(QStringLiteral("服务器返回的行格式不对"));
                p += f.size;
            }
        }
    }

    bool m_record = false;
    PGconn *m_conn;
    PgCopyReader::Session m_session;
    PGresult *m_result = nullptr;
    PGresult *m_before = nullptr;
    bool m_done = false;
};

// `select` with its columns as one ROW(...), built where the rows are made (below the sort, by
// parallel workers), so that libpq copies one column's description a row, not every column's. Empty where the form could
// change the query's meaning or fail: anything but a plain `SELECT list FROM …` whose items are
// the server's columns `names` without aliases or `*`; a set operation; an ORDER BY or GROUP BY
// item that is a position or a bare name (which would then name an input column, not an output
// one); comments, escape strings, dollar quotes, or several statements.
QByteArray recordSelect(const QByteArray &select, const std::vector<QByteArray> &names, bool standardStrings)
{
    const QByteArray s = select.trimmed();
    const auto n = s.size();
    auto identChar = [](char c) { return std::isalnum(uchar(c)) || c == '_' || c == '$' || c == '"'; };
    auto word = [&](qsizetype at, const char *w) {
        const auto len = qsizetype(std::strlen(w));
        return at + len <= n && qstrnicmp(s.constData() + at, w, len) == 0
            && (at == 0 || (!identChar(s[at - 1]) && s[at - 1] != '.')) && (at + len == n || !identChar(s[at + len]));
    };
    qsizetype list = 6;
    while (list < n && std::isspace(uchar(s[list])))
        ++list;
    if (names.size() < 2 || !word(0, "SELECT") || list == 6 || word(list, "DISTINCT") || word(list, "ALL")
        || (!standardStrings && s.contains('\\')) || s.contains(';') || s.contains("--") || s.contains("/*"))
        return {};
    // A trimmed item [from, to) that is one name, optionally with a direction: ORDER BY would
    // take it for an output column. A position is a bare number.
    auto bare = [&](qsizetype from, qsizetype to) {
        QByteArray item = s.mid(from, to - from).trimmed().toLower();
        for (const char *tail : {" nulls first", " nulls last", " asc", " desc"}) {
            if (item.endsWith(tail))
                item.chop(qsizetype(std::strlen(tail)));
            item = item.trimmed();
        }
        return !item.isEmpty() && std::all_of(item.begin(), item.end(), identChar);
    };
    std::vector<std::pair<qsizetype, qsizetype>> items;
    qsizetype itemFrom = 6, from = -1, byFrom = -1;
    int depth = 0;
    char quote = 0;
    for (qsizetype i = 6; i < n; ++i) {
        const char c = s[i];
        if (quote) {
            if (c == quote)
                quote = 0;
            continue;
        }
        if (c == '\'' || c == '"') {
            // E'…' takes backslash escapes, which this scan does not follow.
            if (c == '\'' && i >= 2 && (s[i - 1] == 'E' || s[i - 1] == 'e') && !identChar(s[i - 2]))
                return {};
            quote = c;
            continue;
        }
        if (c == '$' && i + 1 < n && (s[i + 1] == '$' || std::isalpha(uchar(s[i + 1]))))
            return {};   // a dollar-quoted text
        depth += c == '(' ? 1 : c == ')' ? -1 : 0;
        if (depth != 0 || c == ')')
            continue;
        const bool byEnd = c == ',' || word(i, "LIMIT") || word(i, "OFFSET") || word(i, "FOR") || word(i, "HAVING")
            || word(i, "WINDOW") || word(i, "ORDER");
        if (from < 0) {
            // `*` or `t.*`; a product is kept.
            qsizetype before = i - 1;
            while (before > 0 && std::isspace(uchar(s[before])))
                --before;
            if ((c == '*' && (before < itemFrom || s[before] == '.')) || word(i, "AS") || word(i, "INTO"))
                return {};
            if (c == ',' || word(i, "FROM")) {
                items.emplace_back(itemFrom, i);
                itemFrom = i + 1;
                if (c != ',')
                    from = i;
            }
        } else if (word(i, "UNION") || word(i, "INTERSECT") || word(i, "EXCEPT") || word(i, "SELECT")) {
            return {};
        } else if (byFrom >= 0 && byEnd) {
            if (bare(byFrom, i))
                return {};
            byFrom = c == ',' ? i + 1 : -1;
        } else if (word(i, "BY")) {
            byFrom = i + 2;
        }
    }
    if (from < 0 || quote || depth != 0 || items.size() != names.size() || (byFrom >= 0 && bare(byFrom, n)))
        return {};
    // An item whose last word follows a space and is its column's name is an alias.
    for (size_t k = 0; k < items.size(); ++k) {
        const QByteArray item = s.mid(items[k].first, items[k].second - items[k].first).trimmed();
        qsizetype w = item.size();
        while (w > 0 && identChar(item[w - 1]))
            --w;
        if (w > 0 && w < item.size() && std::isspace(uchar(item[w - 1]))
            && (item[w] == '"' || item.mid(w).compare(names[k], Qt::CaseInsensitive) == 0))
            return {};
    }
    return "SELECT ROW(" + s.mid(6, from - 6).trimmed() + ") " + s.mid(from);
}

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
        std::vector<QByteArray> names;
        for (int c = 0; c < PQnfields(shape.get()); ++c)
            names.emplace_back(PQfname(shape.get(), c));
        const char *standard = PQparameterStatus(conn, "standard_conforming_strings");
        const QByteArray record = recordSelect(select, names, standard && qstrcmp(standard, "on") == 0);
        const bool sent = record.isEmpty()
            ? PQsendQueryPrepared(conn, "", count, params.pointers.data(), nullptr, nullptr, 1)
            : PQsendQueryParams(conn, record.constData(), count, params.types.data(), params.pointers.data(), nullptr,
                                nullptr, 1);
        if (!sent)
            session.fail(nullptr);
        PQsetSingleRowMode(conn);
        auto cursor = std::make_unique<ResultCursor>(conn, std::move(columns), session);
        if (!record.isEmpty())
            cursor->SetRecord();
        return cursor;
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
