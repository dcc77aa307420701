#include "cli/TerminalText.h"

namespace TerminalText {

namespace {

// Characters a terminal acts on rather than shows: C0, DEL and C1 controls.
bool IsControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f);
}

// Characters that end a line or turn the order of what follows: line and paragraph separators and the
// bidirectional marks, embeddings, overrides and isolates.
bool ReordersOrBreaks(char32_t c)
{
    return c == 0x200e || c == 0x200f || c == 0x2028 || c == 0x2029 || (c >= 0x202a && c <= 0x202e) ||
           (c >= 0x2066 && c <= 0x2069);
}

void Append(QString& out, char32_t c)
{
    switch (c) {
    case '\n':
        out += QLatin1String("\\n");
        return;
    case '\r':
        out += QLatin1String("\\r");
        return;
    case '\t':
        out += QLatin1String("\\t");
        return;
    default:
        break;
    }
    if (IsControl(c))
        out += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
    else if (ReordersOrBreaks(c))
        out += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
    else if (QChar::requiresSurrogates(c))
        out += QString::fromUcs4(&c, 1);
    else
        out += QChar(char16_t(c));
}

} // namespace

QString OneLine(const QString& text, int mostCharacters)
{
    QString out;
    qint64 characters = 0;
    for (int at = 0; at < text.size(); ++at) {
        const QChar unit = text.at(at);
        char32_t c = unit.unicode();
        // A pair counts as one character and is never cut in two; a lone half shows as the replacement sign.
        if (unit.isHighSurrogate() && at + 1 < text.size() && text.at(at + 1).isLowSurrogate())
            c = QChar::surrogateToUcs4(unit, text.at(++at));
        else if (unit.isSurrogate())
            c = QChar::ReplacementCharacter;
        if (characters++ < mostCharacters)
            Append(out, c);
    }
    if (characters > mostCharacters)
        out += QStringLiteral(" ... (%1 characters in all)").arg(characters);
    return out;
}

} // namespace TerminalText
