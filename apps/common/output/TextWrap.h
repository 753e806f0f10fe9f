#pragma once

#include <QString>
#include <QStringList>

// Text laid out for a terminal, measured in display columns (a Chinese character takes two).
namespace TextWrap {

// Columns of the terminal on standard output; $COLUMNS or 80 when it is not a terminal.
int TerminalWidth();

// Breaks `text` into lines of at most `width` columns (`nextWidth` for the lines after the
// first, when given): at spaces, or between two Chinese characters (where Chinese text
// breaks), never inside a run of Latin letters, digits and punctuation unless that run alone
// is wider than the line.
QStringList Wrap(const QString &text, int width, int nextWidth = 0);

// Each paragraph of `text` wrapped; lines after the first of a paragraph are indented by the
// paragraph's own leading spaces plus `hanging` columns.
QString WrapParagraphs(const QString &text, int width, int hanging = 4);

} // namespace TextWrap
