#include "PrintFont.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QRawFont>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtEndian>

#include <algorithm>
#include <map>
#include <vector>

namespace Present {

namespace {

// Bumped when the copies made below change, so that old cached copies are not used.
constexpr int kCopyVersion = 3;
// The planes a Chinese face covers: the basic plane and the two ideographic supplements.
constexpr char32_t kLastCodePoint = 0x2FFFF;

// Tables a face needs to be drawn and measured. Glyph substitutions ("GSUB") are left out: they
// swap digits after Latin letters for variants that no character maps to, which PDF text
// extraction then drops ("V0001" read as "V"); a report grid needs none of them.
const char *const kTables[] = {"CFF ", "CFF2", "glyf", "loca", "head", "hhea", "hmtx", "maxp", "OS/2",
                               "post", "cvt ", "fpgm", "prep", "gasp", "kern", "GDEF", "GPOS",
                               "BASE", "VORG", "vhea", "vmtx"};

// Radicals and characters with a compatibility decomposition: a face often draws them with the
// glyph of the ideograph or letter they stand for.
bool isCompatibility(char32_t c)
{
    if (c >= 0x2E80 && c <= 0x2FDF)
        return true;
    const QChar::Decomposition tag = QChar::decompositionTag(c);
    return tag != QChar::NoDecomposition && tag != QChar::Canonical;
}

void put16(QByteArray &out, quint16 v)
{
    const quint16 be = qToBigEndian(v);
    out.append(reinterpret_cast<const char *>(&be), 2);
}

void put32(QByteArray &out, quint32 v)
{
    const quint32 be = qToBigEndian(v);
    out.append(reinterpret_cast<const char *>(&be), 4);
}

// Code point → glyph of every character the face draws.
std::vector<std::pair<char32_t, quint32>> characterMap(const QRawFont &font)
{
    std::vector<char32_t> codes;
    QList<QChar> chars;
    for (char32_t c = 1; c <= kLastCodePoint; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        codes.push_back(c);
        if (QChar::requiresSurrogates(c)) {
            chars << QChar(QChar::highSurrogate(c)) << QChar(QChar::lowSurrogate(c));
        } else {
            chars << QChar(char16_t(c));
        }
    }
    // Room for one glyph per UTF-16 unit: Qt asks for it, though a pair yields one glyph.
    std::vector<quint32> glyphs(size_t(chars.size()));
    int count = int(glyphs.size());
    if (!font.glyphIndexesForChars(chars.constData(), int(chars.size()), glyphs.data(), &count)
        || count != int(codes.size()))
        return {};
    std::vector<std::pair<char32_t, quint32>> map;
    for (size_t i = 0; i < codes.size(); ++i)
        if (glyphs[i] != 0)
            map.emplace_back(codes[i], glyphs[i]);
    return map;
}

// Leaves out every code point below the one a glyph is meant for, among those sharing it.
void dropLowerAliases(std::vector<std::pair<char32_t, quint32>> &map)
{
    std::map<quint32, char32_t> meant;
    for (const auto &[code, glyph] : map) {
        auto it = meant.find(glyph);
        if (it == meant.end()) {
            meant.emplace(glyph, code);
        } else if (isCompatibility(it->second) && !isCompatibility(code)) {
            it->second = code;
        }
    }
    std::erase_if(map, [&meant](const auto &entry) { return entry.first < meant.at(entry.second); });
}

// A "cmap" table with one Unicode subtable in segmented coverage form, listed for the Unicode
// platform and for Windows. Without the Unicode platform entry FreeType takes a CFF face for
// one without a Unicode map and makes up another from glyph names, which Qt would then use.
QByteArray cmapTable(const std::vector<std::pair<char32_t, quint32>> &map)
{
    struct Group { char32_t first, last; quint32 glyph; };
    std::vector<Group> groups;
    for (const auto &[code, glyph] : map) {
        if (!groups.empty() && groups.back().last + 1 == code
            && groups.back().glyph + (code - groups.back().first) == glyph) {
            groups.back().last = code;
        } else {
            groups.push_back({code, code, glyph});
        }
    }
    QByteArray t;
    put16(t, 0);    // version
    put16(t, 2);    // two records, one subtable
    put16(t, 0);    // platform: Unicode
    put16(t, 4);    // encoding: full repertoire
    put32(t, 20);   // offset of the subtable
    put16(t, 3);    // platform: Windows
    put16(t, 10);   // encoding: full Unicode
    put32(t, 20);
    put16(t, 12);   // format
    put16(t, 0);
    put32(t, quint32(16 + 12 * groups.size()));
    put32(t, 0);    // language
    put32(t, quint32(groups.size()));
    for (const Group &g : groups) {
        put32(t, g.first);
        put32(t, g.last);
        put32(t, g.glyph);
    }
    return t;
}

QByteArray nameTable(const QString &family, const QString &style)
{
    QString postscript = QString(family + QLatin1Char('-') + style);
    postscript.remove(QLatin1Char(' '));
    const QList<std::pair<quint16, QString>> names = {
        {1, family}, {2, style}, {4, family + QLatin1Char(' ') + style}, {6, postscript}};
    QByteArray strings;
    QByteArray t;
    put16(t, 0);
    put16(t, quint16(names.size()));
    put16(t, quint16(6 + 12 * names.size()));
    for (const auto &[id, text] : names) {
        QByteArray utf16be;
        for (const QChar ch : text)
            put16(utf16be, ch.unicode());
        put16(t, 3);
        put16(t, 1);
        put16(t, 0x409);
        put16(t, id);
        put16(t, quint16(utf16be.size()));
        put16(t, quint16(strings.size()));
        strings += utf16be;
    }
    return t + strings;
}

quint32 checksum(const QByteArray &data)
{
    quint32 sum = 0;
    QByteArray padded = data;
    padded.append((4 - data.size() % 4) % 4, '\0');
    for (qsizetype i = 0; i < padded.size(); i += 4)
        sum += qFromBigEndian<quint32>(padded.constData() + i);
    return sum;
}

QByteArray sfnt(std::map<QByteArray, QByteArray> tables)
{
    const bool cff = tables.count("CFF ") || tables.count("CFF2");
    const quint16 n = quint16(tables.size());
    quint16 power = 1, log2 = 0;
    while (power * 2 <= n) {
        power *= 2;
        ++log2;
    }
    QByteArray out;
    put32(out, cff ? 0x4F54544F : 0x00010000);
    put16(out, n);
    put16(out, quint16(power * 16));
    put16(out, log2);
    put16(out, quint16(n * 16 - power * 16));
    quint32 offset = quint32(12 + 16 * n);
    for (const auto &[tag, data] : tables) {   // std::map keeps the tags sorted, as the format asks
        out.append(tag);
        put32(out, checksum(data));
        put32(out, offset);
        put32(out, quint32(data.size()));
        offset += quint32((data.size() + 3) & ~3);
    }
    for (const auto &[tag, data] : tables) {
        out.append(data);
        out.append((4 - data.size() % 4) % 4, '\0');
    }
    return out;
}

// The copy of one face, written to the cache folder once; its path, or empty.
QString faceCopy(const QRawFont &font, const QString &family, const QString &style)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(QByteArray::number(kCopyVersion));
    hash.addData(font.familyName().toUtf8());
    hash.addData(font.styleName().toUtf8());
    for (const char *tag : {"head", "maxp", "cmap"})
        hash.addData(font.fontTable(tag));
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
        + QStringLiteral("/VelVipRpt/print-fonts");
    const QString path = dir + QLatin1Char('/') + QString::fromLatin1(hash.result().toHex()) + QStringLiteral(".otf");
    if (QFile::exists(path))
        return path;

    std::vector<std::pair<char32_t, quint32>> map = characterMap(font);
    if (map.empty())
        return {};
    dropLowerAliases(map);
    std::map<QByteArray, QByteArray> tables;
    for (const char *tag : kTables) {
        const QByteArray data = font.fontTable(tag);
        if (!data.isEmpty())
            tables.emplace(QByteArray(tag), data);
    }
    if (!tables.count("head") || !tables.count("maxp"))
        return {};
    tables["cmap"] = cmapTable(map);
    tables["name"] = nameTable(family, style);
    if (!QDir().mkpath(dir))
        return {};
    QSaveFile file(path);
    const QByteArray bytes = sfnt(std::move(tables));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return {};
    return path;
}

QString installedChineseFamily()
{
    const QStringList families = QFontDatabase::families();
    for (const char *preferred : {"Noto Sans CJK SC", "Source Han Sans SC", "Source Han Sans CN",
                                  "WenQuanYi Zen Hei", "WenQuanYi Micro Hei", "Droid Sans Fallback"})
        if (families.contains(QLatin1String(preferred)))
            return QLatin1String(preferred);
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    return chinese.isEmpty() ? QFont().family() : chinese.first();
}

QString makePrintFamily()
{
    const QString base = installedChineseFamily();
    const QString family = base + QStringLiteral(" Print");
    QFont regularFont(base);
    const QRawFont regular = QRawFont::fromFont(regularFont, QFontDatabase::SimplifiedChinese);
    if (!regular.isValid())
        return base;
    const QString regularPath = faceCopy(regular, family, QStringLiteral("Regular"));
    if (regularPath.isEmpty() || QFontDatabase::addApplicationFont(regularPath) < 0)
        return base;
    // A face of its own for bold when the machine has one; otherwise Qt emboldens the regular.
    QFont boldFont(base);
    boldFont.setBold(true);
    const QRawFont bold = QRawFont::fromFont(boldFont, QFontDatabase::SimplifiedChinese);
    if (bold.isValid() && bold.weight() >= QFont::DemiBold && bold.fontTable("head") != regular.fontTable("head")) {
        const QString boldPath = faceCopy(bold, family, QStringLiteral("Bold"));
        if (!boldPath.isEmpty())
            QFontDatabase::addApplicationFont(boldPath);
    }
    return family;
}

} // namespace

QString PrintFontFamily()
{
    static const QString family = makePrintFamily();
    return family;
}

} // namespace Present
