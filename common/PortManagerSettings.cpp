// The settings file: what the front end shows at start-up and what the port manager keeps at exit.
#include "common/IniSetting.h"
#include "common/PortManager.h"

#include "Utility/XmlSafeText.h"
#include "logging/Log.h"

static constexpr char kLogSource[] = "Common\\PortManager";

namespace {

QString ChannelKey(int channel) { return QStringLiteral("Channel-%1").arg(channel, 2, 10, QLatin1Char('0')); }

} // namespace

void PortManager::SetSettingsFile(const QString& path) { settingsFile = path; }
QString PortManager::GetSettingsFile() const { return settingsFile; }
void PortManager::SetSaveSettingsAtExit(bool save) { saveSettingsAtExit = save; }

// Only a file that was read is written back: a manager that never loaded the settings has nothing of the
// operator's to keep, and a file QSettings could not read whole would lose lines.
void PortManager::WriteSettingsAtExit()
{
    if (settingsWritten)
        return;
    settingsWritten = true;
    if (WillSaveSettingsAtExit())
        SaveCommonSetting();
}


bool PortManager::WillSaveSettingsAtExit() const { return settingsLoaded && saveSettingsAtExit && !settingsFormatError; }
bool PortManager::IsFlashXmlRestored() const { return flashXmlRestored; }
bool PortManager::IsEfuseEnabled() const { return efuseEnable; }

// A path that a command document cannot carry unchanged would name a file the operator never chose.
QString PortManager::RestoredPath(const QString& group, const QString& key, const QString& field) const
{
    const QString path = IniSetting(settingsFile, group, key).ReadString();
    const QString problem = XmlSafeText::Check(field, path);
    if (problem.isEmpty())
        return path;
    LOGE("PortManager::LoadCommonSetting", "%s/%s ignored: %s", group.toUtf8().constData(), key.toUtf8().constData(),
         problem.toUtf8().constData());
    return QString();
}

void PortManager::LoadCommonSetting()
{
    settingsLoaded = true;
    settingsFormatError = IniSetting::HasFormatError(settingsFile);
    if (settingsFormatError) {
        LOGE("PortManager::LoadCommonSetting",
             "Settings file %s could not be read whole; it will not be written at exit.",
             settingsFile.toLocal8Bit().constData());
    }
    stationSettings = StationSettings::InForce(settingsFile, IniSetting::DefaultPath());
    stationSettings.Log();
    verification.SetRequired(stationSettings.requireVerification);
    readUnitId = stationSettings.readUnitId;
    staging.SetStageLoad(stationSettings.stageLoad);
    target.SetTarget(stationSettings.target);
    outcomes.SetQuarantineAfter(stationSettings.quarantineAfter);
    profile.SetProfile(stationSettings.locked, stationSettings.loadDigest);
    diskGuard.SetFloorMB(stationSettings.minFreeMB);
    flashXmlRestored = false;
    restoredSettings = RunSettings();
    IniSetting setting(settingsFile, QStringLiteral("DownloadScene"), QStringLiteral("Scene"));
    const bool format = setting.ReadString() == QLatin1String("FormatAllAndDownload");
    Q_EMIT SigSetMWElementCheck(format ? QStringLiteral("rbFormatDownload") : QStringLiteral("rbFirmwareUpgrade"), true);
    restoredSettings.scene = format ? RunSettings::Scene::FormatDownload
                                    : RunSettings::Scene::FirmwareUpgrade;

    setting.group = QStringLiteral("RebootScene");
    rebootScene = setting.ReadString();
    setting.key = QStringLiteral("AutoRebootEnabled");
    autoReboot = setting.ReadBool();
    Q_EMIT SigSetMWElementCheck(QStringLiteral("cbAutoReboot"), autoReboot);

    setting.group = QStringLiteral("DownloadSetting");
    setting.key = QStringLiteral("AutoPollingEnabled");
    autoPolling = setting.ReadBool();
    Q_EMIT SigSetMWElementCheck(QStringLiteral("cbAutoPolling"), autoPolling);
    setting.key = QStringLiteral("SelectAllComports");
    selectAllPorts = setting.ReadBool();
    Q_EMIT SigSetMWElementCheck(QStringLiteral("cbSelectAllPorts"), selectAllPorts);
    for (int row = 0; row < kPortCount; ++row)
        Q_EMIT SigSetMWPortSelectState(static_cast<uint>(row), selectAllPorts ? 1 : 0);
    restoredSettings.autoReboot = autoReboot;
    restoredSettings.autoPolling = autoPolling;
    restoredSettings.selectAllPorts = selectAllPorts;
    restoredSettings.selectedRows.fill(selectAllPorts);

    const QString flashXml = RestoredPath(QStringLiteral("Files"), QStringLiteral("FlashXMLFile"), tr("Flash XML"));
    Q_EMIT SigSetMWElementContent(QStringLiteral("leFlashXmlPath"), flashXml);
    flashXmlRestored = !flashXml.isEmpty();
    restoredSettings.flashXmlPath = flashXml;
    restoredSettings.authFilePath =
        RestoredPath(QStringLiteral("Files"), QStringLiteral("AuthFile"), tr("Auth File"));
    Q_EMIT SigSetMWElementContent(QStringLiteral("leAuthFilePath"), restoredSettings.authFilePath);
    restoredSettings.certFilePath =
        RestoredPath(QStringLiteral("Files"), QStringLiteral("CertFile"), tr("Cert File"));
    Q_EMIT SigSetMWElementContent(QStringLiteral("leCertFilePath"), restoredSettings.certFilePath);

    scanType = IniSetting(settingsFile, QStringLiteral("ChanneltNumber"), QStringLiteral("ScanType")).ReadInt();
    RestoreChannelTable();

    setting.group = QStringLiteral("MetaSetting");
    setting.key = QStringLiteral("ConnectType");
    connectType = setting.ReadString();
    setting.key = QStringLiteral("MobileLog");
    mobileLog = setting.ReadString();
    setting.key = QStringLiteral("ADB");
    adb = setting.ReadString();
}

void PortManager::RestoreChannelTable()
{
    for (int channel = 0; channel < kPortCount; ++channel) {
        const QString stored = IniSetting(settingsFile, QStringLiteral("ChannelInfo"), ChannelKey(channel)).ReadString();
        QString portName;
        QString instanceId;
        QString portType;
        if (!stored.isEmpty()) {
            const int open = stored.lastIndexOf(QLatin1Char('('));
            const int close = stored.lastIndexOf(QLatin1Char(')'));
            portName = stored.mid(open + 1, close - open - 1);
            instanceId = stored.section(QLatin1Char('@'), 0, 0);
            portType = stored.contains(QStringLiteral("PreLoader")) ? QStringLiteral("PreLoader") : QStringLiteral("BROM");
        }
        DeviceInstance& device = devices[channel];
        device.SetFriendlyPortName(stored);
        device.SetInstanceId(instanceId);
        device.SetPortName(portName);
        device.SetPortType(portType);
        device.SetScanType(scanType);
        if (!portName.isEmpty()) {
            ShowPort(channel, device.GetPortName() + QLatin1Char('+') + device.GetPortType());
            Q_EMIT SigSetMWPortSelectState(static_cast<uint>(channel), 1);
            restoredSettings.selectedRows[static_cast<size_t>(channel)] = true;
        } else {
            ShowPort(channel, QStringLiteral("N/A"));
        }
    }
}

void PortManager::LoadEfuseSetting()
{
    IniSetting setting(settingsFile, QStringLiteral("EfuseSettings"), QStringLiteral("Enable"));
    efuseEnable = setting.ReadBool();
    LOGI("PortManager::LoadEfuseSetting", "BlowEfuseEnable = %d", efuseEnable ? 1 : 0);
    setting.key = QStringLiteral("BlowAfterDownload");
    blowAfterDownload = setting.ReadBool();
    LOGI("PortManager::LoadEfuseSetting", "BlowAfterDownload = %d", blowAfterDownload ? 1 : 0);
    efuseImagePath = RestoredPath(setting.group, QStringLiteral("EfuseImagePath"), tr("eFuse image"));
    LOGI("PortManager::LoadEfuseSetting", "EfuseImagePath = %s", efuseImagePath.toLocal8Bit().constData());
    setting.key = QStringLiteral("ReadEfuseEnable");
    readEfuseEnable = setting.ReadBool();
    LOGI("PortManager::LoadEfuseSetting", "ReadEfuseEnable = %d", readEfuseEnable ? 1 : 0);
    readbackPath = RestoredPath(setting.group, QStringLiteral("ReadbackPath"), tr("eFuse read-back"));
    LOGI("PortManager::LoadEfuseSetting", "ReadbackPath= %s", readbackPath.toLocal8Bit().constData());
    if (!efuseEnable || blowAfterDownload)
        Q_EMIT SigHideEFUSEButton();
}

void PortManager::SaveCommonSetting()
{
    bool checked = false;
    IniSetting setting(settingsFile, QStringLiteral("DownloadSetting"), QStringLiteral("AutoPollingEnabled"));
    controls.ReadCheck(QStringLiteral("cbAutoPolling"), &RunSettings::autoPolling, checked);
    autoPolling = checked;
    setting.WriteBool(autoPolling);
    checked = false;
    controls.ReadCheck(QStringLiteral("cbSelectAllPorts"), &RunSettings::selectAllPorts, checked);
    selectAllPorts = checked;
    setting.key = QStringLiteral("SelectAllComports");
    setting.WriteBool(selectAllPorts);

    checked = controls.ReadSceneChecked(QStringLiteral("rbFormatDownload"), RunSettings::Scene::FormatDownload);
    IniSetting(settingsFile, QStringLiteral("DownloadScene"), QStringLiteral("Scene"))
        .WriteString(checked ? QStringLiteral("FormatAllAndDownload") : QStringLiteral("FirmwareUpgrade"));

    checked = false;
    controls.ReadCheck(QStringLiteral("cbAutoReboot"), &RunSettings::autoReboot, checked);
    autoReboot = checked;
    IniSetting(settingsFile, QStringLiteral("RebootScene"), QStringLiteral("AutoRebootEnabled")).WriteBool(autoReboot);

    struct SavedFile
    {
        const char* key;
        const char* element;
        QString RunSettings::*field;
    };
    const SavedFile files[] = {{"FlashXMLFile", "leFlashXmlPath", &RunSettings::flashXmlPath},
                               {"AuthFile", "leAuthFilePath", &RunSettings::authFilePath},
                               {"CertFile", "leCertFilePath", &RunSettings::certFilePath}};
    for (const SavedFile& file : files) {
        QString text;
        controls.ReadContent(QString::fromLatin1(file.element), file.field, text);
        IniSetting(settingsFile, QStringLiteral("Files"), QString::fromLatin1(file.key)).WriteString(text);
    }

    for (int channel = 0; channel < kPortCount; ++channel) {
        const QString name = devices[channel].GetFriendlyPortName();
        IniSetting(settingsFile, QStringLiteral("ChannelInfo"), ChannelKey(channel)).WriteString(name);
        LOGI("PortManager::SaveCommonSetting", "Channel %d save FriendlyPortName:%s\n", channel,
             name.toUtf8().constData());
    }
}
