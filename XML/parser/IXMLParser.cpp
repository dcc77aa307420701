#include "IXMLParser.h"

#include "GuardedXmlReader.h"
#include "Utility/FileUtils.h"
#include "logging/Log.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>

#include <exception>

static constexpr char kLogSource[] = "XML\\parser\\IXMLParser";

IXMLParser::IXMLParser(qint64 sizeCap) : sizeCap(sizeCap) {}

IXMLParser::~IXMLParser() = default;

QString IXMLParser::GetErrorMsg() const
{
    return errorMsg;
}

bool IXMLParser::CheckIfValidXMLSchema(const QString& /*path*/)
{
    return true;
}

QString IXMLParser::InvalidFileMessage(const QString& path)
{
    return QStringLiteral("%1 is invalid.\nPlease select the correct %1.").arg(QFileInfo(path).fileName());
}

bool IXMLParser::ParseXMLFile(const QString& path)
{
    try {
        if (!FileUtils::CheckFile(path, errorMsg)) {
            return false;
        }
        if (!CheckIfValidXMLSchema(path)) {
            errorMsg = InvalidFileMessage(path);
            return false;
        }
        // Opened without text mode: the XML reader normalises line ends itself, and text mode would drop
        // carriage-return bytes out of UTF-16 files on Windows.
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            LOGE("IXMLParser::ParseXMLFile", "open %s failed.", path.toUtf8().constData());
            errorMsg = InvalidFileMessage(path);
            return false;
        }
        return ParseDevice(file, path);
    } catch (const std::exception& e) {
        LOGE("IXMLParser::ParseXMLFile", "%s", e.what());
        errorMsg = InvalidFileMessage(path);
        return false;
    }
}

bool IXMLParser::ParseXMLBytes(const QByteArray& bytes, const QString& path)
{
    try {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        return ParseDevice(buffer, path);
    } catch (const std::exception& e) {
        LOGE("IXMLParser::ParseXMLFile", "%s", e.what());
        errorMsg = InvalidFileMessage(path);
        return false;
    }
}

bool IXMLParser::ParseDevice(QIODevice& device, const QString& path)
{
    QDomDocument document;
    GuardedXmlReader reader(sizeCap);
    if (!reader.Read(device, document)) {
        LOGE("IXMLParser::ParseXMLFile", "%s, error line: %d, error column: %d",
             reader.ErrorMessage().toLocal8Bit().constData(), reader.ErrorLine(), reader.ErrorColumn());
        errorMsg = InvalidFileMessage(path);
        return false;
    }
    documentFolder = QFileInfo(path).absolutePath();
    if (!ParseDocument(document.documentElement())) {
        LOGE("IXMLParser::ParseXMLFile", "%s", errorMsg.toLocal8Bit().constData());
        errorMsg = InvalidFileMessage(path);
        return false;
    }
    return true;
}

bool IXMLParser::ParseXMLString(const QString& xml)
{
    try {
        if (xml.trimmed().isEmpty()) {
            errorMsg = QCoreApplication::translate("IXMLParser", "xml string is empty.");
            return false;
        }
        QDomDocument document;
        GuardedXmlReader reader(sizeCap);
        if (!reader.Read(xml, document)) {
            errorMsg = QCoreApplication::translate("IXMLParser", "%1,\nerror line: %2,\nerror column: %3")
                           .arg(reader.ErrorMessage(), QString::number(reader.ErrorLine()),
                                QString::number(reader.ErrorColumn()));
            return false;
        }
        return ParseDocument(document.documentElement());
    } catch (const std::exception& e) {
        errorMsg = QString::fromLocal8Bit(e.what());
        return false;
    }
}
