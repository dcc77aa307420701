#pragma once

#include "XML/RuntimeParameters.h"

#include <QDomDocument>
#include <QDomElement>
#include <QString>

#include <cstdint>
#include <memory>

// Builds the XML command documents that the flash engine executes. A generator lives for one operation;
// copies share its memory buffer, which the engine fills with the answers of the two query commands.
class ICmdXMLGenerator
{
public:
    static constexpr uint32_t kMemoryBufferSize = 0x200000;

    ICmdXMLGenerator() = default;
    ICmdXMLGenerator(const ICmdXMLGenerator&) = default;
    ICmdXMLGenerator& operator=(const ICmdXMLGenerator&) = default;
    virtual ~ICmdXMLGenerator();

    void SetRuntimeParameters(const RuntimeParameters& runtimeParams);
    void SetMetaSetting(const QString& connectType, const QString& mobileLog, const QString& adb);

    QString GetFlashAllCmdString(const QString& loadPath) const;
    QString GetFWCmdString(const QString& loadPath) const;
    QString GetEraseFlashCmdString() const;
    QString GetWriteEfuseCmdString(const QString& efuseImagePath) const;
    QString GetReadEfuseCmdString(const QString& readbackPath) const;
    QString GetSetBootModeCmdString(const QString& mode) const;
    QString GetRebootCmdString(bool immediate) const;
    QString GetDownloadImageFeedback(int portIndex) const;
    QString GetRuntimeParameterCmdString() const;
    QString GetSysPropertyCmdString(const QString& key);
    QString GetDevFWInfoCmdString();
    QString GetSetFlashPolicyCmdString(const void* data, uint32_t length) const;

    // Text the engine left in the memory buffer, up to its first zero byte (or the buffer's end), as UTF-8.
    // Empty while no memory-addressed command has been built.
    QString GetMemoryBufferString() const;

    // Where the engine writes the downloaded-image feedback of a port; the checksum comparison reads it
    // back from the same place. Pure: creates nothing.
    static QString FeedbackFilePath(int portIndex);

    static void AppendTextElement(QDomDocument& document, QDomElement& parent, const QString& tag,
                                  const QString& text);

private:
    // The engine writes into this buffer while a query runs, so it must outlive the command's execution.
    std::shared_ptr<char> memoryBuffer;
    RuntimeParameters runtimeParameters;
    QString connectType;
    QString mobileLog;
    QString adb;

    const char* MemoryBufferAddress();
};
