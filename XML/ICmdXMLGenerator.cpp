#include "XML/ICmdXMLGenerator.h"

#include "Utility/XmlSafeText.h"
#include "logging/Log.h"

#include <QByteArray>
#include <QDir>
#include <QPair>
#include <QVector>

#include <cstdlib>
#include <new>

static constexpr char kLogSource[] = "XML\\ICmdXMLGenerator";

namespace {

using Arguments = QVector<QPair<QString, QString>>;

// Builders never fail and their bytes stay as they were, so an argument the document cannot carry is only
// logged, naming the character the engine will refuse or receive changed.
QString BuildDocument(const char* builder, const QString& command, const Arguments& arguments)
{
    for (const auto& argument : arguments) {
        const QString problem = XmlSafeText::Check(argument.first, argument.second);
        if (!problem.isEmpty()) {
            LOGE(builder, "%s(): %s", builder, problem.toLocal8Bit().constData());
        }
    }

    // The declaration is written as its text: as a node, the document's serialisation would compile a
    // regular expression on every call to read the encoding back out of it.
    QDomDocument document;
    document.clear();
    QDomElement da = document.createElement(QStringLiteral("da"));
    document.appendChild(da);
    ICmdXMLGenerator::AppendTextElement(document, da, QStringLiteral("version"), QStringLiteral("1.0"));
    ICmdXMLGenerator::AppendTextElement(document, da, QStringLiteral("command"), command);
    QDomElement arg = document.createElement(QStringLiteral("arg"));
    da.appendChild(arg);
    for (const auto& argument : arguments) {
        ICmdXMLGenerator::AppendTextElement(document, arg, argument.first, argument.second);
    }
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n") + document.toString(4);
}

QString MemoryTarget(quintptr address, quint64 length)
{
    return QStringLiteral("MEM://0x") + QString::number(address, 16) + QStringLiteral(":0x") +
           QString::number(length, 16);
}

QString ChecksumLevelText(int32_t level)
{
    if (level & 1) {
        return QStringLiteral("NONE");
    }
    QString text;
    if (level & 4) {
        text = QStringLiteral("STORAGE");
    }
    if (level & 2) {
        text = text.isEmpty() ? QStringLiteral("USB") : QStringLiteral("USB-") + text;
    }
    return text;
}

QString BatteryExistText(uint8_t batteryExist)
{
    switch (batteryExist) {
    case 1:
        return QStringLiteral("YES");
    case 2:
        return QStringLiteral("NO");
    default:
        return QStringLiteral("AUTO-DETECT");
    }
}

} // namespace

ICmdXMLGenerator::~ICmdXMLGenerator() = default;

void ICmdXMLGenerator::SetRuntimeParameters(const RuntimeParameters& runtimeParams)
{
    runtimeParameters = runtimeParams;
}

void ICmdXMLGenerator::SetMetaSetting(const QString& connectType, const QString& mobileLog,
                                      const QString& adb)
{
    this->connectType = connectType;
    this->mobileLog = mobileLog;
    this->adb = adb;
}

QString ICmdXMLGenerator::GetFlashAllCmdString(const QString& loadPath) const
{
    return BuildDocument("ICmdXMLGenerator::GetFlashAllCmdString", QStringLiteral("CMD:FLASH-ALL"),
                         {{QStringLiteral("path_separator"), QStringLiteral("/")},
                          {QStringLiteral("source_file"), QDir::toNativeSeparators(loadPath)}});
}

QString ICmdXMLGenerator::GetFWCmdString(const QString& loadPath) const
{
    const QString backupFolder = QDir::currentPath() + QStringLiteral("/BackupFolder");
    LOGI("ICmdXMLGenerator::GetFWCmdString", "backupFolder = %s", backupFolder.toLocal8Bit().constData());
    return BuildDocument("ICmdXMLGenerator::GetFWCmdString", QStringLiteral("CMD:FLASH-UPDATE"),
                         {{QStringLiteral("path_separator"), QStringLiteral("/")},
                          {QStringLiteral("source_file"), QDir::toNativeSeparators(loadPath)},
                          {QStringLiteral("backup_folder"), QDir::toNativeSeparators(backupFolder)}});
}

QString ICmdXMLGenerator::GetEraseFlashCmdString() const
{
    return BuildDocument("ICmdXMLGenerator::GetEraseFlashCmdString", QStringLiteral("CMD:ERASE-FLASH"),
                         {{QStringLiteral("partition"), QStringLiteral("ALL")},
                          {QStringLiteral("offset"), QStringLiteral("0x0")},
                          {QStringLiteral("length"), QStringLiteral("0x0")}});
}

QString ICmdXMLGenerator::GetWriteEfuseCmdString(const QString& efuseImagePath) const
{
    return BuildDocument("ICmdXMLGenerator::GetWriteEfuseCmdString", QStringLiteral("CMD:WRITE-EFUSE"),
                         {{QStringLiteral("source_file"), QDir::toNativeSeparators(efuseImagePath)}});
}

QString ICmdXMLGenerator::GetReadEfuseCmdString(const QString& readbackPath) const
{
    return BuildDocument("ICmdXMLGenerator::GetReadEfuseCmdString", QStringLiteral("CMD:READ-EFUSE"),
                         {{QStringLiteral("target_file"), QDir::toNativeSeparators(readbackPath)}});
}

QString ICmdXMLGenerator::GetSetBootModeCmdString(const QString& mode) const
{
    Arguments arguments{{QStringLiteral("mode"), mode}};
    if (mode == QLatin1String("META")) {
        arguments.append({QStringLiteral("connect_type"), connectType});
        arguments.append({QStringLiteral("mobile_log"), mobileLog});
        arguments.append({QStringLiteral("adb"), adb});
    }
    return BuildDocument("ICmdXMLGenerator::GetSetBootModeCmdString", QStringLiteral("CMD:SET-BOOT-MODE"),
                         arguments);
}

QString ICmdXMLGenerator::GetRebootCmdString(bool immediate) const
{
    return BuildDocument(
        "ICmdXMLGenerator::GetRebootCmdString", QStringLiteral("CMD:REBOOT"),
        {{QStringLiteral("action"), immediate ? QStringLiteral("IMMEDIATE") : QStringLiteral("DISCONNECT")}});
}

QString ICmdXMLGenerator::GetDownloadImageFeedback(int portIndex) const
{
    const QString filePath = FeedbackFilePath(portIndex);
    // A folder that cannot be made is not reported here: the engine then fails to write the file, and the
    // checksum comparison reports the missing file.
    QDir().mkpath(QDir::currentPath() + QStringLiteral("/Tmp"));
    LOGI("ICmdXMLGenerator::GetDownloadImageFeedback", "DownloadImageFeedbackFilePath = %s",
         filePath.toLocal8Bit().constData());
    return BuildDocument("ICmdXMLGenerator::GetDownloadImageFeedback",
                         QStringLiteral("CMD:GET-DOWNLOADED-IMAGE-FEEDBACK"),
                         {{QStringLiteral("target_file"), QDir::toNativeSeparators(filePath)}});
}

QString ICmdXMLGenerator::GetRuntimeParameterCmdString() const
{
    // The engine expects the host family it was built for, whatever the record carries.
    return BuildDocument(
        "ICmdXMLGenerator::GetRuntimeParameterCmdString", QStringLiteral("CMD:SET-RUNTIME-PARAMETER"),
        {{QStringLiteral("checksum_level"), ChecksumLevelText(runtimeParameters.checksumLevel)},
         {QStringLiteral("battery_exist"), BatteryExistText(runtimeParameters.batteryExist)},
         {QStringLiteral("hw_reset_key"), runtimeParameters.hwResetKey},
         {QStringLiteral("da_log_level"), runtimeParameters.daLogLevel},
         {QStringLiteral("log_channel"), runtimeParameters.logChannel},
         {QStringLiteral("system_os"), QStringLiteral("WINDOWS")}});
}

QString ICmdXMLGenerator::GetSysPropertyCmdString(const QString& key)
{
    const auto address = reinterpret_cast<quintptr>(MemoryBufferAddress());
    return BuildDocument("ICmdXMLGenerator::GetSysPropertyCmdString", QStringLiteral("CMD:GET-SYS-PROPERTY"),
                         {{QStringLiteral("key"), key},
                          {QStringLiteral("target_file"), MemoryTarget(address, kMemoryBufferSize)}});
}

QString ICmdXMLGenerator::GetDevFWInfoCmdString()
{
    const auto address = reinterpret_cast<quintptr>(MemoryBufferAddress());
    return BuildDocument("ICmdXMLGenerator::GetDevFWInfoCmdString",
                         QStringLiteral("CMD:SECURITY-GET-DEV-FW-INFO"),
                         {{QStringLiteral("target_file"), MemoryTarget(address, kMemoryBufferSize)}});
}

QString ICmdXMLGenerator::GetSetFlashPolicyCmdString(const void* data, uint32_t length) const
{
    return BuildDocument(
        "ICmdXMLGenerator::GetSetFlashPolicyCmdString", QStringLiteral("CMD:SECURITY-SET-FLASH-POLICY"),
        {{QStringLiteral("source_file"), MemoryTarget(reinterpret_cast<quintptr>(data), length)}});
}

QString ICmdXMLGenerator::GetMemoryBufferString() const
{
    if (!memoryBuffer) {
        return QString();
    }
    // The engine may fill the whole buffer without a terminating zero; never read past its end.
    const char* data = memoryBuffer.get();
    return QString::fromUtf8(data, static_cast<int>(qstrnlen(data, kMemoryBufferSize)));
}

QString ICmdXMLGenerator::FeedbackFilePath(int portIndex)
{
    return QDir::currentPath() + QStringLiteral("/Tmp") + QStringLiteral("/DownloadImageFeedback_") +
           QString::number(portIndex) + QStringLiteral(".xml");
}

void ICmdXMLGenerator::AppendTextElement(QDomDocument& document, QDomElement& parent, const QString& tag,
                                         const QString& text)
{
    QDomElement element = document.createElement(tag);
    QDomText textNode = document.createTextNode(text);
    parent.appendChild(element);
    element.appendChild(textNode);
}

const char* ICmdXMLGenerator::MemoryBufferAddress()
{
    if (!memoryBuffer) {
        // Zeroed by calloc, not by a fill: a block this large comes from pages the system hands out zeroed,
        // and only the few the engine's answer lands on are ever touched. Filling all 2 MiB for every
        // session cost more CPU than the rest of the station's part of an attempt.
        void* block = std::calloc(kMemoryBufferSize, 1);
        if (block == nullptr)
            throw std::bad_alloc();
        memoryBuffer = std::shared_ptr<char>(static_cast<char*>(block), std::free);
    }
    return memoryBuffer.get();
}
