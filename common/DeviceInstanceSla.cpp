// The DA SLA authentication of a running session: once the download agent runs, a device with DA SLA
// enabled gets its challenge answered by the authentication library before any command is sent.
#include "common/DeviceInstance.h"

#include "XML/ICmdXMLGenerator.h"
#include "XML/parser/SecDevFWInfoParser.h"
#include "XML/parser/SysPropsParser.h"
#include "common/SlaChallengeData.h"
#include "common/SlaLibrary.h"
#include "logging/Log.h"

#include <memory>
#include <new>

static constexpr char kLogSource[] = "Common\\DeviceInstance";

namespace {

constexpr char kFlow[] = "DeviceInstance::DASlaFlow";

void Execute(QuillonSession* session, const QString& document)
{
    quillon_execute_command(session, document.toUtf8().constData(), nullptr);
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

    Execute(session, generator.GetDevFWInfoCmdString());
    if (!firmware.ParseXMLString(generator.GetMemoryBufferString())) {
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
    {
        std::lock_guard<std::mutex> guard(stateLock);
        socid = firmware.GetSocid();
    }
    SlaChallengeData::Fill(type, firmware.GetRnd(), firmware.GetHrid(), firmware.GetSocid(), block.get());

    const auto challenge = SlaLibrary::Resolve<DA_SLA_Challenge_Fn>("DA_SLA_Challenge");
    if (challenge == nullptr) {
        LOGE(kFlow, "NO SLA API DA_SLA_Challenge.");
        return;
    }
    LOGI(kFlow, "Call DA_SLA_Challenge");
    uint8_t* response = nullptr;
    uint32_t responseLength = 0;
    const int result = challenge(nullptr, block.get(), length, &response, &responseLength);
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
