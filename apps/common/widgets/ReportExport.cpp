#include "ReportExport.h"

#include "ReportChart.h"
#include "ReportPrinter.h"
#include "ReportView.h"
#include "VelError.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QProgressDialog>

namespace ReportExport {

Outcome Run(QWidget *parent, const ReportView &view, Kind kind, const QString &path, const Present::CsvOptions &csv)
{
    const ReportOutput shown = view.ShownReport();
    QProgressDialog progress(QStringLiteral("正在导出到 %1 ...").arg(path), QStringLiteral("取消"), 0, 100, parent);
    progress.setWindowTitle(QStringLiteral("导出"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    auto step = [&progress](qint64 done, qint64 total) {
        progress.setValue(total > 0 ? int(done * 100 / total) : 0);
        QCoreApplication::processEvents();
        return !progress.wasCanceled();
    };
    try {
        switch (kind) {
        case Kind::Csv: Present::WriteCsvFile(shown, path, csv, step); break;
        case Kind::Xlsx: Present::WriteXlsx(shown, path, step); break;
        case Kind::Pdf:
            // Asked when the pages are known, before the first is printed: one pagination.
            Present::WritePdf(shown, path, [&](int done, int total) {
                if (done == 0 && total > kAskAbovePages
                    && QMessageBox::question(parent, QStringLiteral("导出 PDF"),
                                             QStringLiteral("PDF 将有 %1 页，导出需要一些时间。仍要导出吗？").arg(total))
                           != QMessageBox::Yes)
                    return false;
                return step(done, total);
            },
                              view.ChartShown() ? view.Chart()->Image() : QImage());
            break;
        }
    } catch (const VelError &e) {
        if (Vel::IsCancelled(e))
            return Outcome::Cancelled;
        progress.close();
        QMessageBox::warning(parent, QStringLiteral("导出"), e.Description());
        return Outcome::Failed;
    }
    return Outcome::Written;
}

} // namespace ReportExport
