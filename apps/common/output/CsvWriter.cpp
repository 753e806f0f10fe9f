#include "AtomicFile.h"
#include "Recordset.h"
#include "ReportGrid.h"
#include "ReportWriters.h"
#include "VelError.h"

#include <QLocale>

#include <algorithm>

// CSV: the visible columns under a one-line header, fields quoted only where they must be.
namespace Present {

namespace {

// A text a spreadsheet would run as a formula: it begins with '=', '+', '-', '@', a tab or a
// carriage return and is not a plain number.
bool formulaLike(QStringView text)
{
    if (text.isEmpty())
        return false;
    const char16_t first = text.front().unicode();
    if (first == u'=' || first == u'@' || first == u'\t' || first == u'\r')
        return true;
    if (first != u'+' && first != u'-')
        return false;
    // A signed decimal such as an amount or a quantity, told without the locale's parser.
    qsizetype i = 1, digits = 0;
    for (; i < text.size() && text[i].unicode() - u'0' < 10u; ++i)
        ++digits;
    if (i < text.size() && text[i] == u'.')
        for (++i; i < text.size() && text[i].unicode() - u'0' < 10u; ++i)
            ++digits;
    if (digits > 0 && i == text.size())
        return false;
    bool number = false;
    QLocale::c().toDouble(text, &number);
    return !number;
}

void plainField(ByteSink &out, QStringView text);

// One field; a formula-like text gets a leading apostrophe, so that it stays text.
void csvField(ByteSink &out, QStringView text)
{
    if (!formulaLike(text))
        return plainField(out, text);
    const QString guarded = QLatin1Char('\'') + text.toString();
    plainField(out, guarded);
}

void plainField(ByteSink &out, QStringView text)
{
    // One pass encodes the common field straight into the sink; a field that needs quotes (or
    // holds a surrogate) is given up half-way, nothing committed, and written below.
    const size_t most = 3 * size_t(text.size());
    if (most <= ByteSink::Capacity()) {
        size_t bytes = 0;
        const qsizetype done = EncodeUtf8While(text, out.Reserve(most), bytes, [](char16_t c) {
            return c >= 0x2D || !(c == u',' || c == u'"' || c == u'\n' || c == u'\r');
        });
        if (done == text.size()) {
            out.Commit(bytes);
            return;
        }
    }
    bool quote = false;
    for (const QChar c : text) {
        if (c == u',' || c == u'"' || c == u'\n' || c == u'\r') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        out.PutText(text);
        return;
    }
    out.Put('"');
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'"') {
            out.PutText(text.mid(from, i - from + 1));
            out.Put('"');
            from = i + 1;
        }
    }
    out.PutText(text.mid(from));
    out.Put('"');
}

ByteSink::Drain appendTo(QByteArray &bytes)
{
    return [&bytes](const char *data, size_t size) { bytes.append(data, qsizetype(size)); };
}

} // namespace

namespace {

class CsvText final : public RowText
{
public:
    CsvText(ByteSink &out, const CsvOptions &options) : m_out(out), m_options(options) {}

    void Head(const ReportOutput &report) override
    {
        m_grid = ReportGrid(report, true);
        if (m_options.byteOrderMark)
            m_out.Put("\xEF\xBB\xBF");
        for (int c = 0; c < m_grid.ColumnCount(); ++c) {
            if (c)
                m_out.Put(',');
            csvField(m_out, m_grid.Layout().Columns().at(c).FlatCaption());
        }
        m_out.Put("\r\n");
    }

    void Rows(qint64 from, qint64 to) override
    {
        const int columns = m_grid.ColumnCount();
        for (qint64 r = from; r < to; ++r) {
            for (int c = 0; c < columns; ++c) {
                if (c)
                    m_out.Put(',');
                csvField(m_out, m_grid.TextView(r, c, FormatStyle::Plain, m_buffer));
            }
            m_out.Put("\r\n");
        }
    }

    void Tail(const ReportOutput &) override { m_out.Flush(); }
    bool HeadBeforeRows() const override { return true; }

private:
    ByteSink &m_out;
    const CsvOptions m_options;
    ReportGrid m_grid;
    CellBuffer m_buffer;
};

void writeCsv(const ReportOutput &report, ByteSink &out, const CsvOptions &options, const RowProgress &progress)
{
    CsvText text(out, options);
    WriteWhole(text, report, progress);
}

} // namespace

std::unique_ptr<RowText> CsvRows(ByteSink &out, const CsvOptions &options)
{
    return std::make_unique<CsvText>(out, options);
}

void WriteWhole(RowText &text, const ReportOutput &report, const RowProgress &progress)
{
    text.Head(report);
    const qint64 rows = report.rs ? report.rs->RecordCount() : 0;
    for (qint64 r = 0; r < rows; r += 1000) {
        const qint64 to = std::min(rows, r + 1000);
        text.Rows(r, to);
        if (progress && to % 1000 == 0 && !progress(to, rows))
            throw Vel::Cancelled();
    }
    text.Tail(report);
}

void WriteCsv(const ReportOutput &report, ByteSink &out, const CsvOptions &options)
{
    writeCsv(report, out, options, {});
}

QByteArray WriteCsv(const ReportOutput &report, const CsvOptions &options)
{
    QByteArray bytes;
    ByteSink sink(appendTo(bytes));
    WriteCsv(report, sink, options);
    return bytes;
}

void WriteCsvFile(const ReportOutput &report, const QString &path, const CsvOptions &options,
                  const RowProgress &progress)
{
    AtomicFile file(path);
    {
        ByteSink sink([&file](const char *data, size_t size) { file.Write(data, size); });
        writeCsv(report, sink, options, progress);
    }
    file.Commit();
}

} // namespace Present
