#include "ServiceFilter.h"

#include "Dictionary.h"
#include "FilterCheck.h"
#include "FilterDates.h"
#include "FilterText.h"
#include "VelError.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace ServiceFilter {

Prepared FromJson(qint32 rptId, const QByteArray &body, const QDate &today)
{
    Prepared p;
    if (const QString problem = WorkerProtocol::BodyProblem(body); !problem.isEmpty()) {
        p.errors << problem;
        return p;
    }
    QJsonParseError error;
    QJsonDocument doc = QJsonDocument::fromJson(body.trimmed().isEmpty() ? QByteArray("{}") : body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        try {
            FilterFromJson(body);   // its sentence for what is wrong
        } catch (const VelError &e) {
            p.errors << e.Description();
        }
        if (p.errors.isEmpty())
            p.errors << QStringLiteral("过滤条件 JSON 应为一个对象");
        return p;
    }
    QJsonObject object = doc.object();
    for (auto it = object.begin(); it != object.end(); ++it)
        if (WorkerProtocol::HasControl(it.key()) || (it.value().isString() && WorkerProtocol::HasControl(it.value().toString())))
        {
            p.errors << QStringLiteral("过滤条件“%1”含有控制字符").arg(QString(it.key()).left(40).remove(QChar(0)));
            p.problems << QJsonObject{{QStringLiteral("kind"), QStringLiteral("wrong-value")},
                                      {QStringLiteral("key"), QString(it.key()).left(40)}};
        }
    if (!p.errors.isEmpty())
        return p;
    const QJsonValue period = object.take(QStringLiteral("period"));
    try {
        p.filter = FilterFromJson(QJsonDocument(object).toJson(QJsonDocument::Compact));
        if (!period.isUndefined() && !period.isNull()) {
            if (!period.isString())
                throw VelError(QStringLiteral("“period”应为文本，例如 \"2024-05\""));
            const auto days = FilterDates::ParsePeriod(period.toString(), today);
            for (const auto &[key, value] : FilterDates::PeriodKeys(rptId, days)) {
                if (object.contains(key))
                    p.errors << QStringLiteral("“%1”与“period”重复，只能用一个").arg(key);
                p.filter->SetValue(key, value);
            }
        }
    } catch (const VelError &e) {
        p.errors << QStringLiteral("period：") + e.Description();
        p.problems << QJsonObject{{QStringLiteral("kind"), QStringLiteral("period")}};
        return p;
    }
    for (const FilterCheck::Problem &problem : FilterCheck::Check(rptId, *p.filter)) {
        if (!problem.sentence.isEmpty())
            p.errors << problem.sentence;
        QJsonObject typed{{QStringLiteral("kind"), FilterCheck::KindText(problem.kind)}, {QStringLiteral("key"), problem.key}};
        if (!problem.end.isEmpty())
            typed.insert(QStringLiteral("end"), problem.end);
        p.problems << typed;
    }
    return p;
}

QStringList BranchKeys(qint32 rptId)
{
    if ((rptId >= 10901 && rptId <= 10903) || rptId == 10908 || rptId == 10909 || rptId == 10911)
        return {QStringLiteral("BBranchNum"), QStringLiteral("EBranchNum")};
    if (rptId == 10904 || rptId == 10905)
        return {QStringLiteral("BStockNo"), QStringLiteral("EStockNo")};
    return {};
}

QString RefusedAtBranch(qint32 rptId, const Dictionary &filter, const QString &branch)
{
    for (const QString &key : BranchKeys(rptId)) {
        const QString value = filter.Value(key).toString().trimmed();
        if (!value.isEmpty() && value != branch)
            return QStringLiteral("分店用户不能设置过滤条件“%1”：只能查看本分店（%2）的数据。").arg(key, branch);
    }
    return {};
}

QString PeriodName(const Dictionary &filter)
{
    const QVariant year = filter.Value(QStringLiteral("Year"));
    if (year.isValid() && filter.Value(QStringLiteral("Quarter")).isValid())
        return QStringLiteral("%1-Q%2").arg(year.toInt()).arg(filter.Value(QStringLiteral("Quarter")).toInt());
    if (year.isValid())
        return QStringLiteral("%1-%2").arg(year.toInt()).arg(filter.Value(QStringLiteral("Month")).toInt(), 2, 10, QChar(u'0'));
    if (!filter.Value(QStringLiteral("BDate")).isValid())
        return filter.Value(QStringLiteral("EDate")).toString().left(10);   // as at one moment
    const QString from = filter.Value(QStringLiteral("BDate")).toString().left(10);
    const QString to = filter.Value(QStringLiteral("EDate")).toString().left(10);
    return from == to ? from : from + QStringLiteral("至") + to;
}

QString ContentType(const QString &format)
{
    if (format == u"csv")
        return QStringLiteral("text/csv; charset=utf-8");
    if (format == u"xlsx")
        return QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet");
    if (format == u"pdf")
        return QStringLiteral("application/pdf");
    if (format == u"ndjson")
        return QStringLiteral("application/x-ndjson; charset=utf-8");
    return QStringLiteral("application/json; charset=utf-8");
}

} // namespace ServiceFilter
