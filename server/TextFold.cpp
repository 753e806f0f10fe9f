#include "TextFold.h"

#include "VelError.h"

#include <QHash>

#include <sqlite3.h>

namespace {

constexpr char32_t LastCodePoint = 0x1FFFF;   // no letter with case lies beyond

bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// The character map applied after lowercase: a lowercase letter to its folded form where the
// two differ, full-width letters and digits to ASCII.
const QHash<char16_t, char16_t> &afterLower()
{
    static const QHash<char16_t, char16_t> map = [] {
        QHash<char16_t, char16_t> m;
        for (char32_t c = 0x80; c <= 0xFFFF; ++c) {
            if (isSurrogate(c) || QChar::toLower(c) != c)
                continue;
            const char32_t folded = QChar::toLower(QChar::toCaseFolded(c));
            if (folded != c && folded <= 0xFFFF)
                m.insert(char16_t(c), char16_t(folded));
        }
        for (char16_t c = u'ａ'; c <= u'ｚ'; ++c)
            m.insert(c, char16_t(c - 0xFEE0));
        for (char16_t c = u'０'; c <= u'９'; ++c)
            m.insert(c, char16_t(c - 0xFEE0));
        return m;
    }();
    return map;
}

char32_t mapAfterLower(char32_t c)
{
    return c <= 0xFFFF ? afterLower().value(char16_t(c), char16_t(c)) : c;
}

QString sqlText(const QString &text)
{
    return u'\'' + QString(text).replace(u'\'', QStringLiteral("''")) + u'\'';
}

// translate() arguments: every character to its folded form, as one-to-one pairs.
struct Translation { QString from, to; };

const Translation &afterLowerTranslation()
{
    static const Translation t = [] {
        Translation r;
        for (auto it = afterLower().cbegin(); it != afterLower().cend(); ++it) {
            r.from += QChar(it.key());
            r.to += QChar(it.value());
        }
        return r;
    }();
    return t;
}

const Translation &wholeTranslation()
{
    static const Translation t = [] {
        Translation r;
        for (char32_t c = 1; c <= LastCodePoint; ++c) {
            if (isSurrogate(c) || c == 0x130)   // İ lowers to two characters: see PostgresSql
                continue;
            const char32_t folded = mapAfterLower(QChar::toLower(c));
            if (folded == c)
                continue;
            r.from += QString::fromUcs4(&c, 1);
            r.to += QString::fromUcs4(&folded, 1);
        }
        return r;
    }();
    return t;
}

void foldFunction(sqlite3_context *context, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const auto *text = static_cast<const char16_t *>(sqlite3_value_text16(argv[0]));
    const int bytes = sqlite3_value_bytes16(argv[0]);
    const QString folded = TextFold::Fold(QStringView(text, bytes / 2));
    sqlite3_result_text16(context, folded.utf16(), int(folded.size() * 2), SQLITE_TRANSIENT);
}

} // namespace

namespace TextFold {

QString Fold(QStringView text)
{
    QString s = text.toString().toLower();
    const auto &map = afterLower();
    for (QChar &c : s) {
        const auto it = map.constFind(c.unicode());
        if (it != map.cend())
            c = QChar(*it);
    }
    return s;
}

void RegisterSqlite(sqlite3 *db)
{
    const int rc = sqlite3_create_function_v2(db, "vel_fold", 1, SQLITE_UTF16 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                              nullptr, foldFunction, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        throw VelError(QStringLiteral("无法注册文本比较函数：%1").arg(QString::fromUtf8(sqlite3_errmsg(db))));
}

QString PostgresSql(const QString &expr, bool icu)
{
    // Both branches end in collation "C": LIKE on the folded text then compares characters.
    QString folded;
    if (icu) {
        const Translation &t = afterLowerTranslation();
        folded = QStringLiteral("translate(lower((%1) COLLATE \"und-x-icu\"), %2, %3)")
                     .arg(expr, sqlText(t.from), sqlText(t.to));
    } else {
        const Translation &t = wholeTranslation();
        folded = QStringLiteral("translate(replace(%1, 'İ', 'i̇'), %2, %3)").arg(expr, sqlText(t.from), sqlText(t.to));
    }
    return QStringLiteral("(CASE WHEN octet_length(%1) = char_length(%1) THEN lower((%1) COLLATE \"C\") "
                          "ELSE (%2) COLLATE \"C\" END)")
        .arg(expr, folded);
}

} // namespace TextFold
