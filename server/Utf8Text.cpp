#include "Utf8Text.h"

#include <cstring>

QStringView Utf8Text::Widen(const char *utf8, int n) const
{
    const auto *p = reinterpret_cast<const unsigned char *>(utf8);
    // Each byte gives at most one UTF-16 unit (a four-byte sequence gives two).
    const size_t room = size_t(n) + 1;
    if (room > m_wide.size())
        m_wide.resize(room * 2);
    char16_t *out = m_wide.data();
    // A leading byte order mark is dropped, as QString::fromUtf8 does.
    int i = n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF ? 3 : 0;
    int o = 0;
    while (i < n) {
        // Codes, numbers and dates are ASCII: eight bytes at a time.
        if (i + 8 <= n) {
            quint64 word;
            std::memcpy(&word, p + i, sizeof word);
            if ((word & 0x8080808080808080ULL) == 0) {
                for (int k = 0; k < 8; ++k)
                    out[o + k] = char16_t(p[i + k]);
                o += 8;
                i += 8;
                continue;
            }
        }
        const unsigned b = p[i];
        if (b < 0x80) {
            out[o++] = char16_t(b);
            ++i;
            continue;
        }
        if (b >= 0xC2 && b <= 0xDF && i + 1 < n && (p[i + 1] & 0xC0) == 0x80) {
            out[o++] = char16_t(((b & 0x1F) << 6) | (p[i + 1] & 0x3F));
            i += 2;
            continue;
        }
        if (b >= 0xE0 && b <= 0xEF && i + 2 < n && (p[i + 1] & 0xC0) == 0x80 && (p[i + 2] & 0xC0) == 0x80) {
            const unsigned u = ((b & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F);
            if (u >= 0x800 && (u < 0xD800 || u > 0xDFFF)) {
                out[o++] = char16_t(u);
                i += 3;
                continue;
            }
        }
        const QChar *end = m_decoder.appendToBuffer(reinterpret_cast<QChar *>(out + o), QByteArrayView(p + i, n - i));
        return QStringView(reinterpret_cast<const QChar *>(out), end);
    }
    return QStringView(out, o);
}
