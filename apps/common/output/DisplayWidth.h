#pragma once

#include <QString>
#include <QStringView>

namespace Present {

// Terminal columns a character takes: 2 for East Asian wide and full-width characters,
// 0 for combining marks and zero-width characters, 1 otherwise.
int CharWidth(char32_t c);
int DisplayWidth(QStringView text);

enum class Align { Left, Right, Center };
// The text padded with spaces to the display width (never cut).
QString Pad(const QString &text, int width, Align align);

} // namespace Present
