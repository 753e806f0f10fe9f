#include "ReportStream.h"

#include "Recordset.h"
#include "ReportApplication.h"
#include "ReportSession.h"
#include "VelError.h"

#include <utility>

ReportStream::ReportStream(ReportApplication &app, Target target) : m_app(app), m_target(std::move(target)) {}

ReportStream::~ReportStream() = default;

ReportOutput ReportStream::Run()
{
    // The report builds its title block after the query, so only a format whose head is the
    // columns is written while the rows arrive; the others are written when the run ends.
    if (m_target.writer(m_target.sink)->HeadBeforeRows()) {
        const Recordset::WatchScope scope([this](const RecordsetPtr &rs, qint64 complete) { rows(rs, complete); });
        m_app.GetReportData();
    } else {
        m_app.GetReportData();
    }
    return ReportSession::Collect(m_app);
}

void ReportStream::begin(const ReportOutput &report)
{
    if (m_rs) {
        // The rows start again from the first: what was gathered is dropped, what left is taken
        // back by the target or the run fails.
        if (Sent() && !(m_target.restart && m_target.restart()))
            throw VelError(QStringLiteral("数据库连接中断后报表从头重新读取，已写出的行无法收回；请重新运行报表。"));
        m_target.sink.Discard();
    }
    if (!std::exchange(m_started, true) && m_target.started)
        m_target.started(report);
    m_rs = report.rs;
    m_written = 0;
    m_hasData = false;
    m_grid = ReportGrid(report, false);
    m_text = m_target.writer(m_target.sink);
    m_text->Head(report);
}

void ReportStream::rows(const RecordsetPtr &rs, qint64 complete)
{
    if (rs != m_rs) {
        // The columns are known before the first row; the head needs nothing else.
        ReportOutput report = ReportSession::Collect(m_app);
        report.rs = rs;
        begin(report);
    }
    write(complete);
    if (m_target.releaseWritten)
        rs->ReleaseRows(complete);
}

void ReportStream::write(qint64 to)
{
    m_text->Rows(m_written, to);
    // Asked while the rows can still be read.
    m_hasData = m_hasData || m_grid.HasData(m_written, to);
    m_written = to;
}

void ReportStream::Finish(const ReportOutput &report)
{
    if (!m_rs || report.rs != m_rs)
        begin(report);
    write(report.rs ? report.rs->RecordCount() : 0);
    m_text->Tail(report);
}
