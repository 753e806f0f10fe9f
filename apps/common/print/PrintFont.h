#pragma once

#include <QString>

namespace Present {

// The family that printed reports use: the machine's Chinese sans-serif face, registered once
// more under a name of its own with a character map in which no glyph answers to a
// compatibility character below the one it was drawn for. PDF text extraction names each glyph
// by the lowest code point that maps to it, so with the face as installed 日 comes back as the
// Kangxi radical ⽇ and 民 as ⺠; with this map it comes back as drawn.
// Falls back to the installed family when the copy cannot be made.
QString PrintFontFamily();

} // namespace Present
