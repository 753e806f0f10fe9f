#include "Dictionary.h"
#include "Recordset.h"
#include "ReportGrid.h"
#include "ReportWriters.h"
#include "Vector.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <cmath>
#include <utility>

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

namespace {

// JSON written by hand so that dictionaries keep their insertion order (QJsonObject sorts keys)
// and a large report streams row by row.
class JsonText
{
public:
    QByteArray &Out() { return m_out; }

    void String(const QString &text)
    {
        m_out += '"';
        const QByteArray utf8 = text.toUtf8();
        for (const char ch : utf8) {
            const auto c = static_cast<unsigned char>(ch);
            switch (c) {
            case '"': m_out += "\\\""; break;
            case '\\': m_out += "\\\\"; break;
            case '\n': m_out += "\\n"; break;
            case '\r': m_out += "\\r"; break;
            case '\t': m_out += "\\t"; break;
            case '\b': m_out += "\\b"; break;
            case '\f': m_out += "\\f"; break;
            default:
                if (c < 0x20)
                    m_out += "\\u00" + QByteArray::number(c, 16).rightJustified(2, '0');
                else
                    m_out += ch;
            }
        }
        m_out += '"';
    }

    // `depth` indents nested dictionaries and vectors; scalars ignore it.
    void Value(const QVariant &value, int depth)
    {
        if (const DictionaryPtr d = Vel::AsDictionary(value)) {
            if (d->Count() == 0) {
                m_out += "{}";
                return;
            }
            m_out += "{\n";
            bool first = true;
            for (const QString &key : d->Keys()) {
                if (!std::exchange(first, false))
                    m_out += ",\n";
                indent(depth + 1);
                String(key);
                m_out += ": ";
                Value(d->Value(key), depth + 1);
            }
            m_out += '\n';
            indent(depth);
            m_out += '}';
            return;
        }
        if (const VectorPtr v = Vel::AsVector(value)) {
            if (v->Count() == 0) {
                m_out += "[]";
                return;
            }
            m_out += "[\n";
            bool first = true;
            for (const QVariant &item : v->Items()) {
                if (!std::exchange(first, false))
                    m_out += ",\n";
                indent(depth + 1);
                Value(item, depth + 1);
            }
            m_out += '\n';
            indent(depth);
            m_out += ']';
            return;
        }
        scalar(ToJson(value));
    }

private:
    void indent(int depth) { m_out += QByteArray(2 * depth, ' '); }

    void scalar(const QJsonValue &v)
    {
        switch (v.type()) {
        case QJsonValue::Bool: m_out += v.toBool() ? "true" : "false"; break;
        case QJsonValue::Double: {
            const double d = v.toDouble();
            if (!std::isfinite(d))
                m_out += "null";
            else if (d == std::floor(d) && std::fabs(d) < 9e15)
                m_out += QByteArray::number(qint64(d));
            else
                m_out += QByteArray::number(d, 'g', QLocale::FloatingPointShortest);
            break;
        }
        case QJsonValue::String: String(v.toString()); break;
        case QJsonValue::Array: {
            // A record set inside a container: its field names.
            m_out += '[';
            const QJsonArray a = v.toArray();
            for (qsizetype i = 0; i < a.size(); ++i) {
                if (i)
                    m_out += ", ";
                String(a.at(i).toString());
            }
            m_out += ']';
            break;
        }
        default: m_out += "null"; break;
        }
    }

    QByteArray m_out;
};

} // namespace

QByteArray WriteJson(const ReportOutput &report)
{
    JsonText json;
    QByteArray &out = json.Out();
    out += "{\n";
    auto put = [&](const char *key, const QVariant &v) {
        out += "  ";
        json.String(QLatin1String(key));
        out += ": ";
        json.Value(v, 1);
        out += ",\n";
    };
    put("Result", Vel::ToVariant(report.result));
    put("Property", Vel::ToVariant(report.property));
    put("Title", Vel::ToVariant(report.title));
    put("Header", Vel::ToVariant(report.header));
    put("Filter", Vel::ToVariant(report.filter));

    out += "  \"Fields\": [";
    if (report.rs) {
        const QStringList names = report.rs->FieldNames();
        for (qsizetype i = 0; i < names.size(); ++i) {
            if (i)
                out += ", ";
            json.String(names.at(i));
        }
    }
    out += "],\n  \"Rows\": [";
    if (report.rs && report.rs->RecordCount() > 0) {
        const Recordset &rs = *report.rs;
        for (qint64 r = 0; r < rs.RecordCount(); ++r) {
            out += r ? ",\n    [" : "\n    [";
            for (int f = 0; f < rs.FieldCount(); ++f) {
                if (f)
                    out += ", ";
                json.Value(rs.Value(r, f), 2);
            }
            out += ']';
        }
        out += "\n  ";
    }
    out += "]\n}\n";
    return out;
}

} // namespace Present
