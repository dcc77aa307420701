#include "DeviceChksumParser.h"

#include "logging/Log.h"

static constexpr char kLogSource[] = "XML\\parser\\ChksumParser";

namespace {

// The engine may report an image with its folder, in either separator style.
QString FileNamePart(const QString& path)
{
    const int lastSeparator = qMax(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.mid(lastSeparator + 1);
}

} // namespace

DeviceChksumParser::DeviceChksumParser() = default;

DeviceChksumParser::~DeviceChksumParser() = default;

DeviceChksumParser::ChecksumMap DeviceChksumParser::GetChecksumMap() const
{
    return checksumMap;
}

bool DeviceChksumParser::ParseDocument(const QDomElement& root)
{
    const QString fileAttribute = QStringLiteral("file");
    // Once the first "item" is found, every following sibling is an entry, whatever its tag name.
    QDomElement element = root.firstChildElement(QStringLiteral("item"));
    for (int index = 0; !element.isNull(); ++index, element = element.nextSiblingElement()) {
        if (!element.hasAttribute(fileAttribute)) {
            const QString message = QStringLiteral("%1(index %2) node has NO %3 attribute")
                                        .arg(QStringLiteral("item"), QString::number(index), fileAttribute);
            LOGI("DeviceChksumParser::ParseDocument", "%s", message.toLocal8Bit().constData());
            return false;
        }
        checksumMap.insert(FileNamePart(element.attribute(fileAttribute)),
                           qMakePair(element.attribute(QStringLiteral("image_chksum")),
                                     element.attribute(QStringLiteral("pt"))));
    }
    return true;
}
