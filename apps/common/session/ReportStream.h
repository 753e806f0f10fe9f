#pragma once

#include "ReportGrid.h"
#include "ReportOutput.h"
#include "ReportWriters.h"

#include <functional>
#include <memory>

class ReportApplication;

// A report run whose text output is written by one driver for the hosts that write text (the
// command line and the service's worker): a format whose head is the columns (CSV, rows-first
// JSON) while the rows arrive, the others once the run has ended, because their head carries the
// title block, built after the query. The output is the same as the whole-report writers give
// once the run has ended.
class ReportStream
{
public:
    using Writer = std::function<std::unique_ptr<Present::RowText>(Present::ByteSink &)>;

    struct Target
    {
        Present::ByteSink &sink;
        // The writer of the format, made afresh when the rows start again.
        Writer writer;
        // Told once, with the report's containers, before its head is written.
        std::function<void(const ReportOutput &)> started;
        // The query ran again from its first row (its standby went away) after bytes had left:
        // true when the target was emptied and takes the output from its start, false when it
        // cannot take it back; the run then fails.
        std::function<bool()> restart;
        // The host reads no row once it is written (but RecordCount and HasData): the storage of
        // written rows is reused while the run goes on.
        bool releaseWritten = false;
    };

    ReportStream(ReportApplication &app, Target target);
    ~ReportStream();

    // Runs the report (GetReportData) and returns its results; rows are written meanwhile.
    ReportOutput Run();
    // After a run whose result is OK: the rows not written yet and the tail.
    void Finish(const ReportOutput &report);
    // Whether any byte left the sink.
    bool Sent() const { return m_target.sink.Drained() > 0; }
    // After Finish: whether a written row is not a total row (ReportGrid::HasData).
    bool HasData() const { return m_hasData; }

private:
    void rows(const RecordsetPtr &rs, qint64 complete);
    void begin(const ReportOutput &report);
    void write(qint64 to);

    ReportApplication &m_app;
    Target m_target;
    std::unique_ptr<Present::RowText> m_text;
    RecordsetPtr m_rs;
    qint64 m_written = 0;
    bool m_started = false;
    bool m_hasData = false;
    ReportGrid m_grid;   // the rows' kinds
};
