#include "XmlSafeText.h"

#include <QCoreApplication>

namespace {

bool Refused(char16_t unit)
{
    // A line break is refused although XML can carry it: no path or option the tool passes holds one, and
    // the engine trims the ends of every argument.
    const bool control = unit < 0x20 && unit != u'\t';
    return control || unit == 0xFFFE || unit == 0xFFFF || QChar::isSurrogate(unit);
}

QString HexCode(char16_t unit)
{
    return QString::number(unit, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

} // namespace

namespace XmlSafeText {

QString Check(const QString& field, const QString& text)
{
    int position = 0;
    for (int i = 0; i < text.size(); ++i) {
        ++position;
        const char16_t unit = text.at(i).unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        if (Refused(unit)) {
            // One multi-argument arg(): a field name holding "%2" must not be substituted again.
            return QCoreApplication::translate(
                       "XmlSafeText", "%1: character %2 (U+%3) cannot be stored in a command document")
                .arg(field, QString::number(position), HexCode(unit));
        }
    }
    return QString();
}

} // namespace XmlSafeText
