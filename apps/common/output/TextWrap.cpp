#include "TextWrap.h"

#include "DisplayWidth.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace TextWrap {

namespace {

bool isWide(char32_t c)
{
    return Present::CharWidth(c) == 2;
}

// The text cut into pieces that are never split: a run of spaces, a run of narrow characters
// (ending after a ";", where a list of key=value pairs may break), or one wide character;
// full-width closing punctuation stays with the piece before it, opening punctuation with
// the piece after it.
QStringList pieces(const QString &text)
{
    static const QString closing = QStringLiteral("，。、；：？！）》」』”’");
    static const QString opening = QStringLiteral("（《「『“‘");
    enum class Kind { None, Space, Narrow, Wide };
    QStringList out;
    QString current;
    Kind previous = Kind::None;
    for (const uint code : text.toUcs4()) {
        const char32_t c = code;
        const QString ch = QString::fromUcs4(&c, 1);
        const Kind kind = c == U' ' ? Kind::Space : isWide(c) ? Kind::Wide : Kind::Narrow;
        const bool joins = kind == previous && kind != Kind::Wide && !current.endsWith(u';');
        const bool punctuation = kind != Kind::Space && previous != Kind::Space && closing.contains(ch);
        // "例：0" stays whole: what follows a colon is what it introduces.
        const bool afterColon = kind == Kind::Narrow && current.endsWith(u'：');
        const bool afterOpening = !current.isEmpty() && kind != Kind::Space && opening.contains(current.back());
        if (!current.isEmpty() && !joins && !punctuation && !afterColon && !afterOpening) {
            out << current;
            current.clear();
        }
        current += ch;
        previous = kind;
    }
    if (!current.isEmpty())
        out << current;
    return out;
}

} // namespace

int TerminalWidth()
{
    winsize size{};
    if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    bool ok = false;
    const int columns = qEnvironmentVariableIntValue("COLUMNS", &ok);
    return ok && columns > 0 ? columns : 80;
}

QStringList Wrap(const QString &text, int width, int nextWidth)
{
    if (nextWidth <= 0)
        nextWidth = width;
    QStringList lines;
    QString line;
    int used = 0;
    auto limit = [&] { return std::max(lines.isEmpty() ? width : nextWidth, 10); };
    auto breakLine = [&] {
        while (line.endsWith(u' '))
            line.chop(1);
        lines << line;
        line.clear();
        used = 0;
    };
    for (const QString &piece : pieces(text)) {
        const int w = Present::DisplayWidth(piece);
        if (used + w <= limit()) {
            line += piece;
            used += w;
            continue;
        }
        if (piece.startsWith(u' ')) {   // a break: the spaces go
            breakLine();
            continue;
        }
        if (used > 0)
            breakLine();
        // A piece wider than a whole line is cut where it must be.
        QString rest = piece;
        while (Present::DisplayWidth(rest) > limit()) {
            qsizetype n = 0;
            int cols = 0;
            while (n < rest.size() && cols + Present::CharWidth(rest[n].unicode()) <= limit())
                cols += Present::CharWidth(rest[n++].unicode());
            line = rest.left(n);
            breakLine();
            rest = rest.mid(n);
        }
        line = rest;
        used = Present::DisplayWidth(rest);
    }
    if (!line.isEmpty() || lines.isEmpty())
        breakLine();
    return lines;
}

QString WrapParagraphs(const QString &text, int width, int hanging)
{
    QStringList out;
    for (const QString &paragraph : text.split(u'\n')) {
        qsizetype lead = 0;
        while (lead < paragraph.size() && paragraph[lead] == u' ')
            ++lead;
        const QStringList lines = Wrap(paragraph.mid(lead), width - int(lead), width - int(lead) - hanging);
        for (qsizetype i = 0; i < lines.size(); ++i)
            out << QString(lead + (i > 0 ? hanging : 0), u' ') + lines[i];
    }
    return out.join(u'\n');
}

} // namespace TextWrap
