#pragma once

#include <QString>

namespace XmlSafeText {

// Empty when text travels through a command document unchanged; otherwise a translatable message such as
// "Flash XML path: character 12 (U+000D) cannot be stored in a command document", naming the field, the
// 1-based position of the first offending character (a surrogate pair counts as one character) and its
// code. Refused: C0 controls other than tab (CR and LF included), U+FFFE, U+FFFF and unpaired surrogates.
QString Check(const QString& field, const QString& text);

} // namespace XmlSafeText
