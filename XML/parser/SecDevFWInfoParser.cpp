#include "SecDevFWInfoParser.h"

SecDevFWInfoParser::SecDevFWInfoParser() = default;

SecDevFWInfoParser::~SecDevFWInfoParser() = default;

bool SecDevFWInfoParser::GetNodeText(const QDomElement& root, const QString& name, QString& text)
{
    const QDomElement element = root.firstChildElement(name);
    if (element.isNull()) {
        SetErrorMsg(QStringLiteral("%1 Node Not Exists.").arg(name));
        return false;
    }
    text = element.text().trimmed();
    return true;
}

bool SecDevFWInfoParser::ParseDocument(const QDomElement& root)
{
    return GetNodeText(root, QStringLiteral("rnd"), rnd) && GetNodeText(root, QStringLiteral("hrid"), hrid) &&
           GetNodeText(root, QStringLiteral("socid"), socid);
}
