#include "AtomicFile.h"
#include "ReportGrid.h"
#include "ReportWriters.h"
#include "VelError.h"

// CSV: the visible columns under a one-line header, fields quoted only where they must be.
namespace Present {

namespace {

void csvField(ByteSink &out, QStringView text)
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

void writeCsv(const ReportOutput &report, ByteSink &out, const CsvOptions &options, const RowProgress &progress)
{
    const ReportGrid grid(report, true);
    if (options.byteOrderMark)
        out.Put("\xEF\xBB\xBF");
    const int columns = grid.ColumnCount();
    for (int c = 0; c < columns; ++c) {
        if (c)
            out.Put(',');
        csvField(out, grid.Layout().Columns().at(c).FlatCaption());
    }
    out.Put("\r\n");
    CellBuffer buffer;
    const qint64 rows = grid.RowCount();
    for (qint64 r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            if (c)
                out.Put(',');
            csvField(out, grid.TextView(r, c, FormatStyle::Plain, buffer));
        }
        out.Put("\r\n");
        if (progress && r % 1000 == 999 && !progress(r + 1, rows))
            throw Vel::Cancelled();
    }
    out.Flush();
}

} // namespace

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
