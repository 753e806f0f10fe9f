#pragma once

#include "ReportOutput.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QStringView>

#include <functional>
#include <memory>
#include <string_view>

// Text and file outputs of a report. Text outputs show the visible columns only.
namespace Present {

// UTF-16 text as UTF-8 into `out`, which has room for 3 bytes per UTF-16 unit; the length.
// A lone surrogate becomes U+FFFD.
size_t EncodeUtf8(QStringView text, char *out);

// The leading units of `text` for which `plain(unit)` holds, up to the first surrogate, as
// UTF-8 into `out` (room for 3 bytes per unit). Returns the units encoded; `bytes` gets the
// length. Writers encode common text in one pass and escape the rest themselves.
template <class Plain>
qsizetype EncodeUtf8While(QStringView text, char *out, size_t &bytes, Plain plain)
{
    char *p = out;
    const char16_t *const begin = text.utf16();
    const char16_t *const end = begin + text.size();
    const char16_t *s = begin;
    for (; s < end; ++s) {
        const char16_t c = *s;
        if (!plain(c))
            break;
        if (c < 0x80) {
            *p++ = char(c);
        } else if (c < 0x800) {
            *p++ = char(0xC0 | (c >> 6));
            *p++ = char(0x80 | (c & 0x3F));
        } else if (c < 0xD800 || c >= 0xE000) {
            *p++ = char(0xE0 | (c >> 12));
            *p++ = char(0x80 | ((c >> 6) & 0x3F));
            *p++ = char(0x80 | (c & 0x3F));
        } else {
            break;
        }
    }
    bytes = size_t(p - out);
    return s - begin;
}

// Where a text output goes: bytes gathered in a buffer and drained in large pieces, so that a
// report is written while it is formatted and never held whole.
class ByteSink
{
public:
    using Drain = std::function<void(const char *data, size_t size)>;
    explicit ByteSink(Drain drain) : m_drain(std::move(drain)) {}
    ByteSink(const ByteSink &) = delete;
    ByteSink &operator=(const ByteSink &) = delete;

    void Put(char c)
    {
        if (m_used == sizeof m_buffer)
            Flush();
        m_buffer[m_used++] = c;
    }
    void Put(std::string_view bytes);
    // UTF-16 text as UTF-8, without a temporary string.
    void PutText(QStringView text);
    // Room for `size` bytes (at most the buffer's size) written in place, then Commit.
    char *Reserve(size_t size)
    {
        if (m_used + size > sizeof m_buffer)
            Flush();
        return m_buffer + m_used;
    }
    void Commit(size_t size) { m_used += size; }
    static constexpr size_t Capacity() { return sizeof(ByteSink::m_buffer); }
    // Drains what is gathered.
    void Flush();
    // Bytes drained so far.
    qint64 Drained() const { return m_drained; }
    // Drops what is gathered and not drained.
    void Discard() { m_used = 0; }

private:
    void drain(const char *data, size_t size)
    {
        m_drain(data, size);
        m_drained += qint64(size);
    }

    Drain m_drain;
    qint64 m_drained = 0;
    size_t m_used = 0;
    char m_buffer[1 << 16];
};

// Rows a terminal table takes; a larger report is refused with a hint to use CSV.
inline constexpr qint64 kTableRowLimit = 10000;

// Title block, two-row header, rows; Chinese aligned by display width, summary rows set
// apart by rules, amounts right-aligned with two decimals. Columns blank in every row are left
// out; a table wider than `width` display columns (0: no limit) is cut into parts that fit,
// each repeating the first column.
QString WriteTable(const ReportOutput &report, int width = 0);

// CSV is for programs first: no title block, one header line, then the rows. Spreadsheet
// programs that need a byte order mark to read UTF-8 get one on request.
struct CsvOptions
{
    bool byteOrderMark = false;
};
// One header line of captions (a grouped column as "group-second"), then the rows;
// numbers without thousands separators; CRLF line ends; UTF-8.
void WriteCsv(const ReportOutput &report, ByteSink &out, const CsvOptions &options = {});
QByteArray WriteCsv(const ReportOutput &report, const CsvOptions &options = {});

// One object with "Result", "Property", "Title", "Header", "Filter", "Fields" and "Rows", in
// that order; or, rows first, "Header", "Fields", "Rows", then the members a run completes after
// its query: "Result", "Property", "Title", "Filter". The same values and text either way, one
// member or row a line as laid out by WriteJson, so a reader may take the rows as they come.
enum class JsonLayout { Default, RowsFirst };
void WriteJson(const ReportOutput &report, ByteSink &out, JsonLayout layout = JsonLayout::Default);
QByteArray WriteJson(const ReportOutput &report, JsonLayout layout = JsonLayout::Default);

// Told after every 1,000 rows written: rows done, rows in all. Returning false stops the writer.
using RowProgress = std::function<bool(qint64 done, qint64 total)>;

// A text output in three steps, so that rows are written while they arrive: Head once the
// containers and the record set's fields are known, Rows in order as they complete, then Tail
// (which flushes) with the finished run. The bytes are those of the whole-report functions.
class RowText
{
public:
    virtual ~RowText() = default;
    virtual void Head(const ReportOutput &report) = 0;
    // Rows [from, to) of the record set Head was given.
    virtual void Rows(qint64 from, qint64 to) = 0;
    // `report` is the finished run: its result, title and filter may differ from Head's.
    virtual void Tail(const ReportOutput &report) = 0;
    // Whether Head needs only what a run knows before its rows (the columns): a head that
    // carries the title, the result or the filter waits for the finished run.
    virtual bool HeadBeforeRows() const { return false; }
};
std::unique_ptr<RowText> CsvRows(ByteSink &out, const CsvOptions &options = {});
std::unique_ptr<RowText> JsonRows(ByteSink &out, JsonLayout layout = JsonLayout::Default);
// Head, every row, Tail; throws Vel::Cancelled() when `progress` says stop.
void WriteWhole(RowText &text, const ReportOutput &report, const RowProgress &progress = {});
// The portal's answer, one JSON value a line (NDJSON), so that a page renders what the hosts'
// shared rules decided and never formats a cell itself:
//   {"head": {"columns": […], "header": […], "headerRows": n, "frozen": n, "chart": {…} | null}} —
//     every column of the layout (field, captions, kind, decimals, grouping, alignment, sorting,
//     visibility), the grouped header's cells over the visible ones, the frozen columns, and what
//     the chart draws from which column;
//   {"rows": [[kind, text, …], …]} — batches of rows, each cell the plain text every text output
//     prints ("" for none; always "" in a hidden column the chart does not draw from), kind 0
//     detail, 1 subtotal, 2 total;
//   {"tail": {…}} — name, title-block, filter and period lines, frozen columns (again), sorting, the
//     total row's index, the rows "共 N 行" counts (ReportGrid::CountedRows), whether there is data.
std::unique_ptr<RowText> PageRows(ByteSink &out);
// A JSON string (quoted and escaped) into `out`.
void PutJsonString(ByteSink &out, QStringView text);
// A host value as JSON: dictionaries as objects, vectors as arrays, empty as null, dates as
// "yyyy-MM-dd HH:mm:ss" (or "yyyy-MM-dd" at midnight).
QJsonValue ToJson(const QVariant &value);

// An XLSX workbook: title block on top, the two-row header merged as in the grid, numbers as
// numbers; rows streamed to disk. Written beside the target and renamed onto it when complete.
// Throws VelError when the file cannot be written and Vel::Cancelled() when `progress`
// stopped it; no partial file is left either way.
void WriteXlsx(const ReportOutput &report, const QString &path, const RowProgress &progress = {});
// A CSV file, written the same safe way.
void WriteCsvFile(const ReportOutput &report, const QString &path, const CsvOptions &options = {},
                  const RowProgress &progress = {});

} // namespace Present
