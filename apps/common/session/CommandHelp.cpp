#include "CommandHelp.h"

#include "FilterCheck.h"
#include "TextWrap.h"

#include <QRegularExpression>

#include <algorithm>

namespace CommandHelp {

// "  --name VALUE    description", the description wrapped beside the names.
QString Options(const QList<QCommandLineOption> &options, int width)
{
    QList<QPair<QString, QString>> rows;
    for (const QCommandLineOption &o : options) {
        QStringList names;
        for (const QString &n : o.names())
            names << (n.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + n;
        QString left = QStringLiteral("  ") + names.join(QStringLiteral(", "));
        if (!o.valueName().isEmpty())
            left += u' ' + o.valueName();
        rows.append({left, o.description()});
    }
    rows.append({QStringLiteral("  -h, --help"), QStringLiteral("显示本帮助。")});
    int column = 0;
    for (const auto &row : rows)
        column = std::max(column, int(row.first.size()) + 2);
    column = std::min(column, 26);
    QStringList out;
    for (const auto &[left, description] : rows) {
        const bool own = int(left.size()) + 2 > column;   // too long a name: description below it
        const QStringList lines = TextWrap::Wrap(description, width - column);
        if (own)
            out << left;
        for (qsizetype i = 0; i < lines.size(); ++i)
            out << (i == 0 && !own ? left.leftJustified(column) : QString(column, u' ')) + lines[i];
    }
    return out.join(u'\n');
}

// The parser's complaint in the user's language, with the nearest option for a typo.
QString ParseError(const QCommandLineParser &parser, const QList<QCommandLineOption> &options)
{
    QStringList known{QStringLiteral("help")};
    for (const QCommandLineOption &o : options)
        known << o.names();
    QStringList unknown;
    for (const QString &name : parser.unknownOptionNames()) {
        unknown << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        const QString nearest = FilterCheck::Nearest(name, known);
        if (!nearest.isEmpty())
            unknown.last() += QStringLiteral("（是不是 --%1？）").arg(nearest);
    }
    if (!unknown.isEmpty())
        return QStringLiteral("未知的选项 %1").arg(unknown.join(QStringLiteral("、")));
    static const QRegularExpression named(QStringLiteral("^(Missing|Unexpected) value after '(.*)'"));
    const QRegularExpressionMatch m = named.match(parser.errorText());
    if (m.hasMatch())
        return m.captured(1) == u"Missing" ? QStringLiteral("选项 %1 后面缺少值").arg(m.captured(2))
                                           : QStringLiteral("选项 %1 不带值").arg(m.captured(2));
    return parser.errorText();
}

} // namespace CommandHelp
