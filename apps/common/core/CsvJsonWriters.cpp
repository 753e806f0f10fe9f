#include "Dictionary.h"
#include "Recordset.h"
#include "ReportGrid.h"
#include "ReportWriters.h"
#include "Vector.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace Present {

namespace {

QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"'))
        && !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QJsonValue numberToJson(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::Double:
    case QMetaType::Float:
        return QJsonValue(value.toDouble());
    default:
        return QJsonValue(value.toLongLong());
    }
}

QJsonObject dictionaryToJson(const Dictionary &d)
{
    QJsonObject object;
    for (const QString &key : d.Keys())
        object.insert(key, ToJson(d.Value(key)));
    return object;
}

} // namespace

QJsonValue ToJson(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return QJsonValue(QJsonValue::Null);
    if (Vel::IsObject(value)) {
        if (const DictionaryPtr d = Vel::AsDictionary(value))
            return dictionaryToJson(*d);
        if (const VectorPtr v = Vel::AsVector(value)) {
            QJsonArray array;
            for (const QVariant &item : v->Items())
                array.append(ToJson(item));
            return array;
        }
        // A record set inside a container is described by its field names.
        if (const RecordsetPtr rs = Vel::AsRecordset(value))
            return QJsonArray::fromStringList(rs->FieldNames());
        return QJsonValue(QJsonValue::Null);
    }
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int: case QMetaType::UInt: case QMetaType::LongLong: case QMetaType::ULongLong:
    case QMetaType::Short: case QMetaType::UShort: case QMetaType::Long: case QMetaType::ULong:
    case QMetaType::Double: case QMetaType::Float:
        return numberToJson(value);
    case QMetaType::QDateTime:
    case QMetaType::QDate:
        return DateTimeText(value);
    default:
        return value.toString();
    }
}

QByteArray WriteCsv(const ReportOutput &report, const CsvOptions &options)
{
    const ReportGrid grid(report, true);
    QString text;
    QStringList fields;
    for (const ReportColumn &c : grid.Layout().Columns())
        fields << csvField(c.FlatCaption());
    text += fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    for (qint64 r = 0; r < grid.RowCount(); ++r) {
        fields.clear();
        for (int c = 0; c < grid.ColumnCount(); ++c)
            fields << csvField(grid.Text(r, c, FormatStyle::Plain));
        text += fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    QByteArray bytes = options.byteOrderMark ? QByteArray("\xEF\xBB\xBF") : QByteArray();
    return bytes + text.toUtf8();
}

QByteArray WriteJson(const ReportOutput &report)
{
    QJsonObject root;
    auto put = [&root](const char *key, const QVariant &v) { root.insert(QLatin1String(key), ToJson(v)); };
    put("Result", Vel::ToVariant(report.result));
    put("Property", Vel::ToVariant(report.property));
    put("Title", Vel::ToVariant(report.title));
    put("Header", Vel::ToVariant(report.header));
    put("Filter", Vel::ToVariant(report.filter));

    QJsonArray fields, rows;
    if (report.rs) {
        const Recordset &rs = *report.rs;
        for (const QString &name : rs.FieldNames())
            fields.append(name);
        for (qint64 r = 0; r < rs.RecordCount(); ++r) {
            QJsonArray row;
            for (int f = 0; f < rs.FieldCount(); ++f)
                row.append(ToJson(rs.Value(r, f)));
            rows.append(row);
        }
    }
    root.insert(QStringLiteral("Fields"), fields);
    root.insert(QStringLiteral("Rows"), rows);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

} // namespace Present
