// Shows every filter dialog and saves a picture of it: filter_screenshots <output folder>.
// Run under a real display server (xvfb-run -a) to get the fonts people see.
#include "ComponentRegistry.h"
#include "HostKit.h"
#include "LookupDialog.h"
#include "Recordset.h"
#include "VelError.h"
#include "ReportFilterPanel.h"
#include "filters/ReportFilter.h"

#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTextStream>
#include <QTimer>

namespace {

void save(QWidget *w, const QString &file)
{
    w->show();
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    w->grab().save(file);
    QTextStream(stdout) << file << '\n';
}

RecordsetPtr sampleCards()
{
    auto rs = Recordset::Create();
    rs->AddField(QStringLiteral("FNumber"), Recordset::FieldType::Text);
    rs->AddField(QStringLiteral("FName"), Recordset::FieldType::Text);
    rs->Open();
    const QStringList names{QStringLiteral("张伟"), QStringLiteral("王芳"), QStringLiteral("李娜"), QStringLiteral("刘洋")};
    for (int i = 0; i < names.size(); ++i) {
        const qint64 r = rs->AddRow();
        rs->SetText(r, 0, QStringLiteral("A%1").arg(1001 + i));
        rs->SetText(r, 1, names[i]);
    }
    return rs;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QFile::remove(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/filter-schemes.sqlite"));
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    QDir().mkpath(out.path());

    RegisterHostKitComponents();
    RegisterFilterPanelComponent();
    HostContext::Publish();
    HostContext::SetAppType(2);
    HostContext::SetIsBranch(false);
    HostContext::SetSVCardShareType(true);
    HostContext::SetBranchNum(QStringLiteral("001"));

    for (int id = 10901; id <= 10906; ++id) {
        std::unique_ptr<FilterForm> form(ReportFilter::CreateForm(id));
        form->SetRptID(id);
        if (id == 10903) {
            // A few saved schemes, so that the list shows what it is for.
            form->show();
            auto *panel = form->findChild<ReportFilterPanel *>();
            for (const QString &name : {QStringLiteral("本月全部会员"), QStringLiteral("早班收银"), QStringLiteral("一号POS机")})
                panel->SaveScheme(name);
        }
        save(form.get(), out.filePath(QStringLiteral("filter-%1.png").arg(id)));
    }

    // A branch site whose cards are not shared: the branch rows close up.
    HostContext::SetIsBranch(true);
    HostContext::SetSVCardShareType(false);
    for (int id : {10901, 10903}) {
        std::unique_ptr<FilterForm> form(ReportFilter::CreateForm(id));
        form->SetRptID(id);
        save(form.get(), out.filePath(QStringLiteral("filter-%1-branch.png").arg(id)));
    }

    LookupDialog list(LookupDialog::TitleFor(50), [](const QString &) { return sampleCards(); });
    save(&list, out.filePath(QStringLiteral("lookup-cards.png")));
    LookupDialog failing(LookupDialog::TitleFor(5), [](const QString &) -> RecordsetPtr {
        throw VelError(QStringLiteral("Cannot connect to the database server at 127.0.0.1:5432"));
    });
    save(&failing, out.filePath(QStringLiteral("lookup-unreachable.png")));
    return 0;
}
