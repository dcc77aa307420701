#include "LoadChksumParser.h"

#include "logging/Log.h"

static constexpr char kLogSource[] = "XML\\parser\\ChksumParser";

LoadChksumParser::LoadChksumParser() : IXMLParser(kSizeCap) {}

LoadChksumParser::~LoadChksumParser() = default;

QHash<QString, QString> LoadChksumParser::GetChecksumMap() const
{
    return checksumMap;
}

bool LoadChksumParser::ParseDocument(const QDomElement& root)
{
    const QString nameAttribute = QStringLiteral("name");
    const QString checksumAttribute = QStringLiteral("checksum");
    // Once the first "file" is found, every following sibling is an entry, whatever its tag name.
    QDomElement element =
        root.firstChildElement(QStringLiteral("images")).firstChildElement(QStringLiteral("file"));
    for (int index = 0; !element.isNull(); ++index, element = element.nextSiblingElement()) {
        if (!element.hasAttribute(nameAttribute)) {
            const QString message = QStringLiteral("%1(index %2) node has NO %3 attribute")
                                        .arg(QStringLiteral("file"), QString::number(index), nameAttribute);
            LOGI("LoadChksumParser::ParseDocument", "%s", message.toLocal8Bit().constData());
            return false;
        }
        checksumMap.insert(element.attribute(nameAttribute), element.attribute(checksumAttribute));
    }
    return true;
}
