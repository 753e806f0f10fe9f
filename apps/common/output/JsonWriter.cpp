#include "Dictionary.h"
#include "Recordset.h"
#include "ReportGrid.h"
#include "ReportWriters.h"
#include "Vector.h"

#include <QJsonArray>
#include <QJsonObject>

#include <charconv>
#include <cmath>
#include <utility>

// JSON: a report's result, property, title, header and filter dictionaries, then its record
// set's fields and rows (or the header, fields and rows first); and any Variant as a QJsonValue.
namespace Present {

namespace {

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

void PutJsonString(ByteSink &out, QStringView text)
{
    out.Put('"');
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x20 && c != u'"' && c != u'\\')
            continue;
        out.PutText(text.mid(from, i - from));
        from = i + 1;
        switch (c) {
        case u'"': out.Put("\\\""); break;
        case u'\\': out.Put("\\\\"); break;
        case u'\n': out.Put("\\n"); break;
        case u'\r': out.Put("\\r"); break;
        case u'\t': out.Put("\\t"); break;
        case u'\b': out.Put("\\b"); break;
        case u'\f': out.Put("\\f"); break;
        default: {
            const char hex[] = "0123456789abcdef";
            const char escaped[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
            out.Put(std::string_view(escaped, sizeof escaped));
        }
        }
    }
    out.PutText(text.mid(from));
    out.Put('"');
}

namespace {

// JSON written by hand so that dictionaries keep their insertion order (QJsonObject sorts keys)
// and a large report streams row by row.
class JsonText
{
public:
    explicit JsonText(ByteSink &out) : m_out(out) {}

    void String(QStringView text) { PutJsonString(m_out, text); }

    // `depth` indents nested dictionaries and vectors; scalars ignore it.
    void Value(const QVariant &value, int depth)
    {
        if (const DictionaryPtr d = Vel::AsDictionary(value)) {
            if (d->Count() == 0) {
                m_out.Put("{}");
                return;
            }
            m_out.Put("{\n");
            bool first = true;
            for (const QString &key : d->Keys()) {
                if (!std::exchange(first, false))
                    m_out.Put(",\n");
                indent(depth + 1);
                String(key);
                m_out.Put(": ");
                Value(d->Value(key), depth + 1);
            }
            m_out.Put('\n');
            indent(depth);
            m_out.Put('}');
            return;
        }
        if (const VectorPtr v = Vel::AsVector(value)) {
            if (v->Count() == 0) {
                m_out.Put("[]");
                return;
            }
            m_out.Put("[\n");
            bool first = true;
            for (const QVariant &item : v->Items()) {
                if (!std::exchange(first, false))
                    m_out.Put(",\n");
                indent(depth + 1);
                Value(item, depth + 1);
            }
            m_out.Put('\n');
            indent(depth);
            m_out.Put(']');
            return;
        }
        scalar(ToJson(value));
    }

    // A record-set cell, read by its type without going through a Variant.
    void Cell(const Recordset &rs, qint64 row, int field, CellBuffer &buffer)
    {
        if (rs.IsNull(row, field)) {
            m_out.Put("null");
            return;
        }
        switch (rs.FieldTypeOf(field)) {
        case Recordset::FieldType::Integer:
            m_out.PutText(QStringView(buffer.chars, Present::FormatInteger(rs.IntAt(row, field), buffer.chars)));
            return;
        case Recordset::FieldType::Double:
            number(rs.DoubleAt(row, field));
            return;
        case Recordset::FieldType::Text:
            String(rs.TextViewAt(row, field));
            return;
        case Recordset::FieldType::Boolean:
            m_out.Put(rs.IntAt(row, field) ? "true" : "false");
            return;
        case Recordset::FieldType::DateTime: {
            const qint64 ms = rs.WallClockMsecsAt(row, field);
            const int n = Present::FormatWallClock(ms, ms % 86400000 != 0, buffer.chars);
            if (n >= 0)
                String(QStringView(buffer.chars, n));
            else
                Value(rs.Value(row, field), 2);
            return;
        }
        }
    }

private:
    void indent(int depth)
    {
        for (int i = 0; i < depth; ++i)
            m_out.Put("  ");
    }

    void number(double d)
    {
        char text[32];
        std::to_chars_result done;
        if (!std::isfinite(d)) {
            m_out.Put("null");
            return;
        }
        if (d == std::floor(d) && std::fabs(d) < 9e15)
            done = std::to_chars(text, text + sizeof text, qint64(d));
        else
            done = std::to_chars(text, text + sizeof text, d);
        m_out.Put(std::string_view(text, size_t(done.ptr - text)));
    }

    void scalar(const QJsonValue &v)
    {
        switch (v.type()) {
        case QJsonValue::Bool: m_out.Put(v.toBool() ? "true" : "false"); break;
        case QJsonValue::Double: number(v.toDouble()); break;
        case QJsonValue::String: String(v.toString()); break;
        case QJsonValue::Array: {
            // A record set inside a container: its field names.
            m_out.Put('[');
            const QJsonArray a = v.toArray();
            for (qsizetype i = 0; i < a.size(); ++i) {
                if (i)
                    m_out.Put(", ");
                String(a.at(i).toString());
            }
            m_out.Put(']');
            break;
        }
        default: m_out.Put("null"); break;
        }
    }

    ByteSink &m_out;
};

} // namespace

namespace {

class JsonRowText final : public RowText
{
public:
    JsonRowText(ByteSink &out, JsonLayout layout) : m_out(out), m_json(out), m_layout(layout) {}

    void Head(const ReportOutput &report) override
    {
        m_rs = report.rs;
        m_out.Put("{\n");
        const Member header{"Header", Vel::ToVariant(report.header)};
        if (m_layout == JsonLayout::Default)
            members({result(report), property(report), title(report), header, filter(report)});
        else
            members({header});
        m_out.Put(",\n  \"Fields\": [");
        if (m_rs) {
            const QStringList names = m_rs->FieldNames();
            for (qsizetype i = 0; i < names.size(); ++i) {
                if (i)
                    m_out.Put(", ");
                m_json.String(names.at(i));
            }
        }
        m_out.Put("],\n  \"Rows\": [");
    }

    void Rows(qint64 from, qint64 to) override
    {
        const Recordset &rs = *m_rs;
        const int fields = rs.FieldCount();
        for (qint64 r = from; r < to; ++r) {
            m_out.Put(r ? ",\n    [" : "\n    [");
            for (int f = 0; f < fields; ++f) {
                if (f)
                    m_out.Put(", ");
                m_json.Cell(rs, r, f, m_buffer);
            }
            m_out.Put(']');
        }
        m_any = m_any || to > from;
    }

    void Tail(const ReportOutput &report) override
    {
        m_out.Put(m_any ? "\n  ]" : "]");
        if (m_layout == JsonLayout::RowsFirst) {
            // What the run completes after its query: 10902 moves its end date in the filter,
            // the title block adds to the property.
            m_out.Put(",\n");
            members({result(report), property(report), title(report), filter(report)});
        }
        m_out.Put("\n}\n");
        m_out.Flush();
    }

    // Only the columns come before the rows; the rest waits for the finished run.
    bool HeadBeforeRows() const override { return m_layout == JsonLayout::RowsFirst; }

private:
    using Member = std::pair<const char *, QVariant>;
    static Member result(const ReportOutput &r) { return {"Result", Vel::ToVariant(r.result)}; }
    static Member property(const ReportOutput &r) { return {"Property", Vel::ToVariant(r.property)}; }
    static Member title(const ReportOutput &r) { return {"Title", Vel::ToVariant(r.title)}; }
    static Member filter(const ReportOutput &r) { return {"Filter", Vel::ToVariant(r.filter)}; }

    // Members as `  "Key": value`, a comma and line end between them.
    void members(std::initializer_list<Member> list)
    {
        bool first = true;
        for (const auto &[key, value] : list) {
            if (!std::exchange(first, false))
                m_out.Put(",\n");
            m_out.Put("  ");
            m_json.String(QString::fromLatin1(key));
            m_out.Put(": ");
            m_json.Value(value, 1);
        }
    }

    ByteSink &m_out;
    JsonText m_json;
    const JsonLayout m_layout;
    RecordsetPtr m_rs;
    CellBuffer m_buffer;
    bool m_any = false;
};

} // namespace

std::unique_ptr<RowText> JsonRows(ByteSink &out, JsonLayout layout)
{
    return std::make_unique<JsonRowText>(out, layout);
}

void WriteJson(const ReportOutput &report, ByteSink &out, JsonLayout layout)
{
    JsonRowText text(out, layout);
    WriteWhole(text, report);
}

QByteArray WriteJson(const ReportOutput &report, JsonLayout layout)
{
    QByteArray bytes;
    ByteSink sink([&bytes](const char *data, size_t size) { bytes.append(data, qsizetype(size)); });
    WriteJson(report, sink, layout);
    return bytes;
}

} // namespace Present
