#include "CliKeys.h"

#include "DisplayWidth.h"
#include "ReportKeys.h"
#include "ReportSession.h"
#include "TextWrap.h"

#include <QTextStream>

namespace {

QString terminalTable(qint32 rptId, int width)
{
    QList<ReportKeys::Key> keys = ReportKeys::KeysOf(rptId);
    for (const ReportKeys::Key &k : ReportKeys::TitleOnlyKeys())
        if (ReportKeys::Find(rptId, k.name)->titleOnly)
            keys << k;
    int nameWidth = 4, kindWidth = 4;
    for (const ReportKeys::Key &k : keys) {
        nameWidth = std::max(nameWidth, Present::DisplayWidth(k.name));
        kindWidth = std::max(kindWidth, Present::DisplayWidth(ReportKeys::KindText(k.kind)));
    }
    const int indent = nameWidth + kindWidth + 10;   // two spaces after each column, "必填" is 4
    auto row = [&](const QString &name, const QString &kind, const QString &required, const QString &text) {
        const QString left = Present::Pad(name, nameWidth + 2, Present::Align::Left)
            + Present::Pad(kind, kindWidth + 2, Present::Align::Left) + Present::Pad(required, 6, Present::Align::Left);
        const QStringList lines = TextWrap::Wrap(text, width - indent);
        QStringList out{left + lines.first()};
        for (qsizetype i = 1; i < lines.size(); ++i)
            out << QString(indent, u' ') + lines[i];
        return out.join(u'\n');
    };
    QStringList out{QStringLiteral("%1 %2").arg(rptId).arg(ReportSession::ReportName(rptId)), QString(),
                    row(QStringLiteral("项"), QStringLiteral("类型"), QStringLiteral("必填"), QStringLiteral("含义与取值"))};
    for (const ReportKeys::Key &k : keys) {
        QString text = ReportKeys::Description(k);
        if (!k.example.isEmpty())
            text += QStringLiteral("。例：") + k.example;
        out << row(k.name, ReportKeys::KindText(k.kind), k.required ? QStringLiteral("是") : QStringLiteral("否"), text);
    }
    return out.join(u'\n');
}

} // namespace

int KeysMain(const QStringList &args)
{
    bool markdown = false;
    QList<qint32> reports;
    for (const QString &arg : args) {
        if (arg == u"--markdown") {
            markdown = true;
            continue;
        }
        if (arg == u"-h" || arg == u"--help") {
            QTextStream(stdout) << QStringLiteral("用法：velvip-report keys [RPTID] [--markdown]\n"
                                                  "列出报表过滤条件的每一项：类型、是否必填、含义与取值、示例。"
                                                  "不给 RPTID 时列出全部六张报表；--markdown 输出 Markdown 表格。\n");
            return 0;
        }
        if (arg.startsWith(u'-')) {
            QTextStream(stderr) << QStringLiteral("velvip-report keys: 未知的选项 %1（可用 --markdown）\n").arg(arg);
            return 2;
        }
        bool ok = false;
        const qint32 id = arg.toInt(&ok);
        if (!ok || !ReportSession::ReportIds().contains(id)) {
            QTextStream(stderr) << QStringLiteral("velvip-report keys: 报表编号应为 %1，而不是“%2”\n").arg(ReportSession::ReportIdsText(), arg);
            return 2;
        }
        reports << id;
    }
    if (reports.isEmpty())
        reports = ReportSession::ReportIds();

    QStringList parts;
    const int width = TextWrap::TerminalWidth();
    for (qint32 id : reports)
        parts << (markdown ? QStringLiteral("### %1 %2\n\n%3").arg(id).arg(ReportSession::ReportName(id), ReportKeys::Markdown(id))
                           : terminalTable(id, width));
    QTextStream(stdout) << parts.join(QStringLiteral("\n\n")) << '\n';
    return 0;
}
