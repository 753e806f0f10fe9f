#pragma once

#include <QStringDecoder>
#include <QStringView>

#include <string>

// UTF-8 from a database widened into one reused buffer, with no allocation per value: one- to
// three-byte sequences (codes, dates, Chinese names) inline, anything else (four-byte or
// malformed sequences) through Qt's decoder. A view stays valid until the next call.
class Utf8Text
{
public:
    QStringView Widen(const char *utf8, int bytes) const;

private:
    mutable std::u16string m_wide;
    mutable QStringDecoder m_decoder{QStringDecoder::Utf8,
                                     QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom};
};
