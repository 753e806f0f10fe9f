#include "ReportWriters.h"

#include <cstring>

// The byte sink every text writer streams into, and its UTF-8 encoder.
namespace Present {

size_t EncodeUtf8(QStringView text, char *out)
{
    size_t used = 0;
    for (;;) {
        size_t bytes = 0;
        text = text.mid(EncodeUtf8While(text, out + used, bytes, [](char16_t) { return true; }));
        used += bytes;
        if (text.isEmpty())
            return used;
        // A surrogate pair is one 4-byte character; a lone surrogate becomes U+FFFD.
        char32_t c = 0xFFFD;
        qsizetype units = 1;
        if (text[0].isHighSurrogate() && text.size() > 1 && text[1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[0], text[1]);
            units = 2;
        }
        char *p = out + used;
        if (c > 0xFFFF) {
            *p++ = char(0xF0 | (c >> 18));
            *p++ = char(0x80 | ((c >> 12) & 0x3F));
        } else {
            *p++ = char(0xE0 | (c >> 12));
        }
        *p++ = char(0x80 | ((c >> 6) & 0x3F));
        *p++ = char(0x80 | (c & 0x3F));
        used = size_t(p - out);
        text = text.mid(units);
    }
}

void ByteSink::Put(std::string_view bytes)
{
    if (m_used + bytes.size() > sizeof m_buffer)
        Flush();
    if (bytes.size() > sizeof m_buffer) {
        drain(bytes.data(), bytes.size());
        return;
    }
    std::memcpy(m_buffer + m_used, bytes.data(), bytes.size());
    m_used += bytes.size();
}

void ByteSink::PutText(QStringView text)
{
    // At most 3 bytes per UTF-16 unit (a surrogate pair gives 4 bytes for 2 units).
    if (m_used + 3 * size_t(text.size()) > sizeof m_buffer) {
        Flush();
        if (3 * size_t(text.size()) > sizeof m_buffer) {
            const QByteArray utf8 = text.toUtf8();
            drain(utf8.constData(), size_t(utf8.size()));
            return;
        }
    }
    m_used += EncodeUtf8(text, m_buffer + m_used);
}

void ByteSink::Flush()
{
    if (m_used > 0)
        drain(m_buffer, m_used);
    m_used = 0;
}

} // namespace Present
