#include "SysPropsParser.h"

SysPropsParser::SysPropsParser() = default;

SysPropsParser::~SysPropsParser() = default;

bool SysPropsParser::IsSLAEnabled() const
{
    return slaPropertyValue.toUpper() == QLatin1String("ENABLED");
}

bool SysPropsParser::ParseDocument(const QDomElement& root)
{
    // Every later "item" would rescan the rest of the list and reach the same last match, so one scan
    // from the first "item" gives the result without the quadratic cost on a long answer.
    for (QDomElement element = root.firstChildElement(); !element.isNull();
         element = element.nextSiblingElement()) {
        if (element.tagName().trimmed() == QLatin1String("item")) {
            ParseItem(element);
            break;
        }
    }
    return true;
}

void SysPropsParser::ParseItem(const QDomElement& start)
{
    for (QDomElement element = start; !element.isNull(); element = element.nextSiblingElement()) {
        if (element.attribute(QStringLiteral("key")) == QLatin1String("DA.SLA")) {
            slaPropertyValue = element.text().trimmed();
        }
    }
}
