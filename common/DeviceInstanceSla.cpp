// The DA SLA authentication of a running session: once the download agent runs, a device with DA SLA
// enabled gets its challenge answered by the authentication library before any command is sent. The same
// firmware-information query names the unit when the station asks for its id and authentication did not
// learn it.
#include "common/DeviceInstance.h"

#include "XML/ICmdXMLGenerator.h"
#include "XML/parser/SecDevFWInfoParser.h"
#include "XML/parser/SysPropsParser.h"
#include "common/SlaChallengeData.h"
#include "common/SlaLibrary.h"
#include "logging/Log.h"

#include <QRegularExpression>

#include <memory>
#include <new>

static constexpr char kLogSource[] = "Common\\DeviceInstance";

namespace {

constexpr char kFlow[] = "DeviceInstance::DASlaFlow";

constexpr char kUnitQuery[] = "DeviceInstance::ReadUnitId";

int Execute(QuillonSession* session, const QString& document)
{
    return quillon_execute_command(session, document.toUtf8().constData(), nullptr);
}

// Sends the firmware-information query and reads the answer the engine wrote into the generator's buffer.
// True when the answer names the device's ids; result is the engine's own.
bool QueryFirmwareInfo(QuillonSession* session, ICmdXMLGenerator& generator, SecDevFWInfoParser& firmware,
                       int& result)
{
    result = Execute(session, generator.GetDevFWInfoCmdString());
    return firmware.ParseXMLString(generator.GetMemoryBufferString());
}

} // namespace

void DeviceInstance::DASlaFlow()
{
    ICmdXMLGenerator generator;
    SysPropsParser properties;
    SecDevFWInfoParser firmware;

    Execute(session, generator.GetSysPropertyCmdString(QStringLiteral("DA.SLA")));
    if (!properties.ParseXMLString(generator.GetMemoryBufferString())) {
        LOGE(kFlow, "Parse Device Sys Properties Error: %s",
             properties.GetErrorMsg().toLocal8Bit().constData());
        return;
    }
    if (!properties.IsSLAEnabled()) {
        LOGI(kFlow, "DA SLA Disabled, Skip!");
        return;
    }

    int result = 0;
    if (!QueryFirmwareInfo(session, generator, firmware, result)) {
        LOGE(kFlow, "Parse SLA Device FW Info Error: %s", firmware.GetErrorMsg().toLocal8Bit().constData());
        return;
    }

    int type = 0;
    if (const auto featureConfig = SlaLibrary::Resolve<SLA_Feature_Config_Fn>("SLA_Feature_Config")) {
        type = featureConfig();
        LOGI(kFlow, "SLA API SLA_Feature_Config exists, Type: %d", type);
    } else {
        LOGI(kFlow, "NO SLA API SLA_Feature_Config.");
    }

    const uint32_t length = SlaChallengeData::BlockLength(type);
    // Owned here so that every return below releases it.
    const std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[length]());
    if (!block) {
        LOGE(kFlow, "Failed to Alloc Memory for SLA DATA");
        return;
    }
    KeepSocid(firmware.GetSocid());
    SlaChallengeData::Fill(type, firmware.GetRnd(), firmware.GetHrid(), firmware.GetSocid(), block.get());

    const auto challenge = SlaLibrary::Resolve<DA_SLA_Challenge_Fn>("DA_SLA_Challenge");
    if (challenge == nullptr) {
        LOGE(kFlow, "NO SLA API DA_SLA_Challenge.");
        return;
    }
    LOGI(kFlow, "Call DA_SLA_Challenge");
    uint8_t* response = nullptr;
    uint32_t responseLength = 0;
    result = challenge(nullptr, block.get(), length, &response, &responseLength);
    if (result != 0) {
        LOGE(kFlow, "Call DA_SLA_Challenge Function Failed, Return Code = %d", result);
        return;
    }
    Execute(session, generator.GetSetFlashPolicyCmdString(response, responseLength));

    if (const auto end = SlaLibrary::Resolve<DA_SLA_Challenge_END_Fn>("DA_SLA_Challenge_END")) {
        end(nullptr, nullptr);
    } else {
        LOGE(kFlow, "NO SLA API DA_SLA_Challenge_END");
    }
}

void DeviceInstance::ReadUnitId()
{
    // A fresh generator: its buffer holds no earlier answer that a failed query would leave to be read.
    ICmdXMLGenerator generator;
    SecDevFWInfoParser firmware;
    int result = 0;
    if (QueryFirmwareInfo(session, generator, firmware, result)) {
        KeepSocid(firmware.GetSocid());
        return;
    }
    // The device is flashed all the same; only its record lacks the unit.
    if (result != 0) {
        const char* error = quillon_get_last_error_msg(session);
        LOGW(kUnitQuery, "Unit id not read, the query failed (%d): %s", result, error == nullptr ? "" : error);
    } else {
        LOGW(kUnitQuery, "Unit id not read, the answer cannot be read: %s",
             firmware.GetErrorMsg().toLocal8Bit().constData());
    }
}

void DeviceInstance::KeepSocid(const QString& text)
{
    // The id goes into record files and factory messages: only hexadecimal digits, in one letter case, so
    // that a unit's attempts match whatever case its answer came in.
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]+$"));
    const QString id = text.trimmed();
    if (!hex.match(id).hasMatch()) {
        LOGW("DeviceInstance::KeepSocid", "The device's socid \"%s\" is not hexadecimal; the unit stays unnamed.",
             id.toUtf8().constData());
        return;
    }
    std::lock_guard<std::mutex> guard(stateLock);
    socid = id.toLower();
}
