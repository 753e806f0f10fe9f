#include "FilterText.h"

#include "Dictionary.h"
#include "Vector.h"
#include "VelError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

QVariant jsonToVariant(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        return {};
    case QJsonValue::Bool:
        return value.toBool();
    case QJsonValue::Double: {
        const double d = value.toDouble();
        if (std::trunc(d) == d && d >= -2147483648.0 && d <= 2147483647.0)
            return qint32(d);
        return d;
    }
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Array: {
        auto v = Vector::Create();
        for (const QJsonValue &item : value.toArray())
            v->Add(jsonToVariant(item));
        return Vel::ToVariant(v);
    }
    case QJsonValue::Object: {
        auto d = Dictionary::Create();
        const QJsonObject o = value.toObject();
        for (auto it = o.begin(); it != o.end(); ++it)
            d->SetValue(it.key(), jsonToVariant(it.value()));
        return Vel::ToVariant(d);
    }
    }
    return {};
}

} // namespace

DictionaryPtr FilterFromJson(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        throw VelError(QStringLiteral("过滤条件 JSON 有误（第 %1 个字符）：%2").arg(error.offset).arg(error.errorString()));
    if (!doc.isObject())
        throw VelError(QStringLiteral("过滤条件 JSON 应为一个对象"));
    return Vel::AsDictionary(jsonToVariant(doc.object()));
}

bool SplitKeyValue(const QString &pair, QString *key, QString *value)
{
    const qsizetype eq = pair.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return false;
    *key = pair.left(eq).trimmed();
    *value = pair.mid(eq + 1);
    return !key->isEmpty();
}
