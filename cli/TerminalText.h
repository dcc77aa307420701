#pragma once

#include <QString>

// Text from a file or a database made safe to print on a terminal as part of one line: control characters
// and the characters that reorder or break a line are written as escapes (an ESC as "\x1b", a line feed as
// "\n", a right-to-left override as "\u202e"), and a long text is cut after mostCharacters characters with
// a note of its whole length, so that neither what it holds nor its size can take over the operator's screen.
namespace TerminalText {

// A text kept whole up to this many characters.
constexpr int kLongest = 240;

QString OneLine(const QString& text, int mostCharacters = kLongest);

} // namespace TerminalText
