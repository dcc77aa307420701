#include "common/DaOptions.h"

#include "common/IniSetting.h"

namespace {

const QString kGroup = QStringLiteral("DAOptions");
const QStringList kBatteryNames = {QStringLiteral("WithBattery"), QStringLiteral("WithoutBattery"),
                                   QStringLiteral("AutoDetect")};

} // namespace

const QStringList& DaOptions::LevelNames()
{
    static const QStringList names = {QStringLiteral("DEBUG"), QStringLiteral("INFO"), QStringLiteral("WARN"),
                                      QStringLiteral("ERROR")};
    return names;
}

const QStringList& DaOptions::ChannelNames()
{
    static const QStringList names = {QStringLiteral("UART"), QStringLiteral("USB")};
    return names;
}

DaOptions DaOptions::Load(const QString& settingsPath)
{
    IniSetting setting(settingsPath, kGroup, QStringLiteral("BatterySetting"));
    const QString battery = setting.ReadString();
    setting.key = QStringLiteral("DALogLevel");
    const QString level = setting.ReadString();
    setting.key = QStringLiteral("DALogChannel");
    const QString channel = setting.ReadString();
    setting.key = QStringLiteral("USBCheckSum");
    const bool usb = setting.ReadBool();
    setting.key = QStringLiteral("StorageCheckSum");
    const bool storage = setting.ReadBool();

    DaOptions options;
    if (battery == kBatteryNames[WithBattery])
        options.battery = WithBattery;
    else if (battery == kBatteryNames[WithoutBattery])
        options.battery = WithoutBattery;
    const int levelIndex = LevelNames().indexOf(level);
    options.levelIndex = levelIndex < 0 ? 1 : levelIndex;
    const int channelIndex = ChannelNames().indexOf(channel);
    options.channelIndex = channelIndex < 0 ? 0 : channelIndex;
    options.usbChecksum = usb;
    options.storageChecksum = storage;
    return options;
}

void DaOptions::Save(const QString& settingsPath) const
{
    IniSetting setting(settingsPath, kGroup, QStringLiteral("BatterySetting"));
    setting.WriteString(kBatteryNames[battery]);
    setting.key = QStringLiteral("DALogLevel");
    setting.WriteString(LevelNames().value(levelIndex, QStringLiteral("INFO")));
    setting.key = QStringLiteral("DALogChannel");
    setting.WriteString(ChannelNames().value(channelIndex, QStringLiteral("UART")));
    setting.key = QStringLiteral("USBCheckSum");
    setting.WriteBool(usbChecksum);
    setting.key = QStringLiteral("StorageCheckSum");
    setting.WriteBool(storageChecksum);
}

RuntimeParameters DaOptions::ToRuntimeParameters() const
{
    RuntimeParameters parameters;
    parameters.batteryExist = battery == WithBattery ? 1 : battery == WithoutBattery ? 2 : 0;
    if (storageChecksum)
        parameters.checksumLevel = usbChecksum ? 6 : 4;
    else
        parameters.checksumLevel = usbChecksum ? 2 : 1;
    parameters.logChannel = ChannelNames().value(channelIndex, QStringLiteral("UART"));
    parameters.daLogLevel = LevelNames().value(levelIndex, QStringLiteral("INFO"));
    parameters.hwResetKey = QStringLiteral("POWER-KEY+X");
    parameters.systemOs = QStringLiteral("WINDOWS");
    return parameters;
}
