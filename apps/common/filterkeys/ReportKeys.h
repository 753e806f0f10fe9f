#pragma once

#include <QList>
#include <QString>

// The filter keys of each report: every key its filter dialog writes, with its type, its
// values and whether the report runs without it. The command-line host checks a filter
// against this table and prints it; the README's key table is generated from it.
namespace ReportKeys {

// The type a dialog stores a key's value in.
enum class Kind {
    Text,       // QString; an empty text means no limit
    DateTime,   // QString "yyyy-MM-dd HH:mm:ss"
    Int32,      // qint32
    Int16,      // qint16
    Number,     // double
};

// One value of a key with a fixed set of values.
struct Choice {
    qint32 value;
    QString meaning;
    QString note;   // when the dialog offers it only sometimes, or not at all
};

struct Key {
    QString name;
    Kind kind = Kind::Text;
    QString meaning;
    bool required = false;
    QString example;
    QList<Choice> choices;      // whole-number keys with fixed values
    qint32 min = 0, max = 0;    // whole-number keys without fixed values
    bool titleOnly = false;     // read by the title block only, never by the query

    bool IsWholeNumber() const { return kind == Kind::Int32 || kind == Kind::Int16 || kind == Kind::Number; }
    // Whether a whole number is one the report accepts.
    bool Accepts(qint32 value) const;
    // "0 会员卡号、1 消费分店…" or "1 到 12".
    QString ValuesText() const;
};

// The keys in the order the report's dialog writes them; empty for an unknown number.
const QList<Key> &KeysOf(qint32 rptId);
// The keys the shared title block reads for every report ("BDeptNumber" → 部门代码[全部]),
// which a host may put into any filter for its own title lines: accepted, marked "仅用于标题".
const QList<Key> &TitleOnlyKeys();
// The key of that exact name, among the report's keys and then the title-only keys, or nullptr.
const Key *Find(qint32 rptId, const QString &name);
// For a "B…" key with an "E…" partner: the partner's name; otherwise the empty text.
QString RangeEnd(qint32 rptId, const QString &name);
// Whether the report has a date period ("Year"/"Month" or "BDate"/"EDate").
bool HasPeriod(qint32 rptId);

QString KindText(Kind kind);

// What the key means, with its values for whole-number keys.
QString Description(const Key &key);
// The report's keys as a Markdown table.
QString Markdown(qint32 rptId);

} // namespace ReportKeys
