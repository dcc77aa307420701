#include "FlashXMLParser.h"

#include "Utility/FileUtils.h"
#include "logging/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

static constexpr char kLogSource[] = "XML\\parser\\FlashXMLParser";

FlashXMLParser::FlashXMLParser() = default;

FlashXMLParser::~FlashXMLParser() = default;

QString FlashXMLParser::GetScatterFilePath() const
{
    return scatterFilePath;
}

bool FlashXMLParser::CheckIfValidXMLSchema(const QString& path)
{
    // Only the schema's presence is required; the flash XML is not validated against it.
    const QString schemaPath =
        QFileInfo(path).absolutePath() + QDir::separator() + QStringLiteral("flash.xsd");
    QString checkMessage;
    if (FileUtils::CheckFile(schemaPath, checkMessage)) {
        return true;
    }
    LOGE("FlashXMLParser::CheckIfValidXMLSchema", "%s", checkMessage.toLocal8Bit().constData());
    return false;
}

bool FlashXMLParser::GetNodeText(const QDomElement& root, const QString& name, QString& text)
{
    const QDomElement element = root.firstChildElement(name);
    if (element.isNull()) {
        SetErrorMsg(QCoreApplication::translate("IXMLParser", "%1 node is not exist.").arg(name));
        return false;
    }
    text = element.text().trimmed();
    return true;
}

bool FlashXMLParser::ParseDocument(const QDomElement& root)
{
    QString scatterText;
    if (!GetNodeText(root, QStringLiteral("scatter"), scatterText)) {
        return false;
    }
    if (QDir::isRelativePath(scatterText)) {
        scatterFilePath = QDir::toNativeSeparators(GetDocumentFolder() + QDir::separator() + scatterText);
    } else {
        scatterFilePath = scatterText;
    }
    QString contact;
    if (!GetNodeText(root, QStringLiteral("contact"), contact)) {
        return false;
    }
    contactText = contact;
    return true;
}
