#include "FarmConfig.h"

#include "CommandNames.h"
#include "IniFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>
#include <functional>

namespace quillonsim {

namespace {

constexpr int kMaxPorts = 100; // port indices are written with two digits in the description
constexpr double kMaxMs = 1.0e9;
constexpr int kMaxSlaKeyLength = 1024;
constexpr int kMaxSlaType = 2147483647;

class KeyReader
{
public:
    KeyReader(const QString& file, const QString& group, const IniEntry& entry)
        : file(file), group(group), entry(entry)
    {
    }

    bool Fail(const QString& expected, QString& error) const
    {
        error = QStringLiteral("Farm file %1, line %2: [%3] %4 = \"%5\" is not valid: expected %6")
                    .arg(file)
                    .arg(entry.line)
                    .arg(group, entry.key, entry.value, expected);
        return false;
    }

    bool Number(double minimum, double maximum, double& out, QString& error) const
    {
        bool ok = false;
        const double value = entry.value.toDouble(&ok);
        if (!ok || !std::isfinite(value) || value < minimum || value > maximum)
            return Fail(QStringLiteral("a number from %1 to %2").arg(minimum).arg(maximum), error);
        out = value;
        return true;
    }

    bool Integer(int minimum, int maximum, int& out, QString& error) const
    {
        bool ok = false;
        const int value = entry.value.toInt(&ok, 10);
        if (!ok || value < minimum || value > maximum)
            return Fail(QStringLiteral("a whole number from %1 to %2").arg(minimum).arg(maximum), error);
        out = value;
        return true;
    }

    bool Flag(bool& out, QString& error) const
    {
        const QString value = entry.value.toLower();
        if (value == QLatin1String("true") || value == QLatin1String("1")) {
            out = true;
            return true;
        }
        if (value == QLatin1String("false") || value == QLatin1String("0")) {
            out = false;
            return true;
        }
        return Fail(QStringLiteral("true or false"), error);
    }

    bool Choice(const QString& first, const QString& second, bool& isFirst, QString& error) const
    {
        if (entry.value.compare(first, Qt::CaseInsensitive) == 0) {
            isFirst = true;
            return true;
        }
        if (entry.value.compare(second, Qt::CaseInsensitive) == 0) {
            isFirst = false;
            return true;
        }
        return Fail(QStringLiteral("%1 or %2").arg(first, second), error);
    }

    bool StageName(bool allowAll, FaultPlan& plan, QString& error) const
    {
        const QString value = entry.value;
        const QString lower = value.toLower();
        Stage stage = Stage::None;
        if (lower == QLatin1String("scan"))
            stage = Stage::Scan;
        else if (lower == QLatin1String("connect"))
            stage = Stage::Connect;
        else if (lower == QLatin1String("enter"))
            stage = Stage::Enter;
        if (!allowAll) {
            if (stage == Stage::None)
                return Fail(QStringLiteral("scan, connect or enter"), error);
            plan.hangStage = stage;
            return true;
        }
        const QString expected =
            QStringLiteral("scan, connect, enter, command:<CMD name> or transfer:<percent>");
        if (stage == Stage::None && lower.startsWith(QLatin1String("command:"))) {
            const QString name = CommandNames::Normalised(value.mid(8).trimmed());
            if (!CommandNames::IsSupported(name))
                return Fail(expected + QStringLiteral(" naming a supported command"), error);
            stage = Stage::Command;
            plan.failCommand = name;
        } else if (stage == Stage::None && lower.startsWith(QLatin1String("transfer:"))) {
            bool ok = false;
            const int percent = value.mid(9).trimmed().toInt(&ok, 10);
            if (!ok || percent < 0 || percent > 100)
                return Fail(expected + QStringLiteral(" with a percent from 0 to 100"), error);
            stage = Stage::Transfer;
            plan.failPercent = percent;
        }
        if (stage == Stage::None)
            return Fail(expected, error);
        plan.failStage = stage;
        return true;
    }

    bool FileInExistingFolder(QString& out, QString& error) const
    {
        const QFileInfo info(entry.value);
        if (entry.value.isEmpty() || info.isDir() || !info.absoluteDir().exists())
            return Fail(QStringLiteral("a file in an existing folder"), error);
        out = info.absoluteFilePath();
        return true;
    }

    const IniEntry& Entry() const { return entry; }

private:
    QString file;
    QString group;
    IniEntry entry;
};

bool ApplyPortKey(const KeyReader& reader, PortSettings& port, QString& error)
{
    const QString& key = reader.Entry().key;
    bool choice = false;
    if (key == QLatin1String("ArrivalMs"))
        return reader.Number(0, kMaxMs, port.arrivalMs, error);
    if (key == QLatin1String("ArrivalStepMs"))
        return reader.Number(0, kMaxMs, port.arrivalStepMs, error);
    if (key == QLatin1String("SwapMs"))
        return reader.Number(0, kMaxMs, port.swapMs, error);
    if (key == QLatin1String("ReenumerateMs"))
        return reader.Number(0, kMaxMs, port.reenumerateMs, error);
    if (key == QLatin1String("DevicesPerPort"))
        return reader.Integer(0, 1000000000, port.devicesPerPort, error);
    if (key == QLatin1String("LinkMBps"))
        return reader.Number(0, 1.0e6, port.linkMBps, error);
    if (key == QLatin1String("ConnectMs"))
        return reader.Number(0, kMaxMs, port.connectMs, error);
    if (key == QLatin1String("DaLoadMs"))
        return reader.Number(0, kMaxMs, port.daLoadMs, error);
    if (key == QLatin1String("EraseMs"))
        return reader.Number(0, kMaxMs, port.eraseMs, error);
    if (key == QLatin1String("EfuseMs"))
        return reader.Number(0, kMaxMs, port.efuseMs, error);
    if (key == QLatin1String("AnswerTimeoutMs")) {
        int value = 0;
        if (!reader.Integer(0, 24 * 3600 * 1000, value, error))
            return false;
        port.answerTimeoutMs = static_cast<unsigned int>(value);
        return true;
    }
    if (key == QLatin1String("Type")) {
        if (!reader.Choice(QStringLiteral("BROM"), QStringLiteral("PreLoader"), choice, error))
            return false;
        port.type = choice ? DeviceMode::BootRom : DeviceMode::PreLoader;
        return true;
    }
    if (key == QLatin1String("Sla")) {
        if (!reader.Choice(QStringLiteral("Enabled"), QStringLiteral("Disabled"), choice, error))
            return false;
        port.slaEnabled = choice;
        return true;
    }
    if (key == QLatin1String("BromSla")) {
        if (!reader.Choice(QStringLiteral("Enabled"), QStringLiteral("Disabled"), choice, error))
            return false;
        port.bromSla = choice;
        return true;
    }
    if (key == QLatin1String("SlaKey")) {
        const QString& value = reader.Entry().value;
        if (value.isEmpty() || value.size() > kMaxSlaKeyLength)
            return reader.Fail(QStringLiteral("a key of 1 to %1 characters").arg(kMaxSlaKeyLength), error);
        port.slaKey = value.toUtf8();
        return true;
    }
    if (key == QLatin1String("SlaType"))
        return reader.Integer(-kMaxSlaType, kMaxSlaType, port.slaType, error);
    if (key == QLatin1String("FaultRate"))
        return reader.Number(0, 1, port.faultRate, error);
    if (key == QLatin1String("FaultSeed"))
        return reader.Integer(0, 2147483647, port.faultSeed, error);
    if (key == QLatin1String("AuthRequired"))
        return reader.Flag(port.authRequired, error);
    if (key == QLatin1String("Absent"))
        return reader.Flag(port.fault.absent, error);
    if (key == QLatin1String("Fail"))
        return reader.StageName(true, port.fault, error);
    if (key == QLatin1String("FailEvery"))
        return reader.Integer(1, 1000000000, port.fault.failEvery, error);
    if (key == QLatin1String("Hang"))
        return reader.StageName(false, port.fault, error);
    if (key == QLatin1String("CorruptImage")) {
        if (reader.Entry().value.isEmpty())
            return reader.Fail(QStringLiteral("an image file name"), error);
        port.fault.corruptImage = reader.Entry().value;
        return true;
    }
    return reader.Fail(QStringLiteral("a known key (this key is unknown)"), error);
}

bool IsFarmOnly(const QString& key)
{
    return key == QLatin1String("Ports") || key == QLatin1String("FirstCom") ||
           key == QLatin1String("TimeScale") || key == QLatin1String("HubMBps") ||
           key == QLatin1String("RefuseSessions") || key == QLatin1String("Ledger") ||
           key == QLatin1String("SwapFailedAfter");
}

} // namespace

bool FaultPlan::Fails(Stage stage, quint64 deviceNumber) const
{
    return failStage == stage && failEvery > 0 && deviceNumber % quint64(failEvery) == 0;
}

FarmConfig FarmConfig::Defaults()
{
    FarmConfig config;
    config.port.assign(size_t(config.ports), PortSettings());
    return config;
}

bool FarmConfig::Load(const QString& path, FarmConfig& out, QString& error)
{
    IniFile ini;
    if (!ini.Read(path, error))
        return false;
    FarmConfig config;
    config.source = path;
    PortSettings common;
    const IniGroup* farm = nullptr;
    for (const IniGroup& group : ini.Groups()) {
        if (group.name == QLatin1String("Farm"))
            farm = &group;
    }
    if (farm != nullptr) {
        for (const IniEntry& entry : farm->entries) {
            const KeyReader reader(path, farm->name, entry);
            bool ok = true;
            if (entry.key == QLatin1String("Ports"))
                ok = reader.Integer(1, kMaxPorts, config.ports, error);
            else if (entry.key == QLatin1String("FirstCom"))
                ok = reader.Integer(1, 9999, config.firstCom, error);
            else if (entry.key == QLatin1String("TimeScale"))
                ok = reader.Number(0, 1000, config.timeScale, error);
            else if (entry.key == QLatin1String("HubMBps"))
                ok = reader.Number(0, 1.0e6, config.hubMBps, error);
            else if (entry.key == QLatin1String("RefuseSessions"))
                ok = reader.Flag(config.refuseSessions, error);
            else if (entry.key == QLatin1String("Ledger"))
                ok = reader.FileInExistingFolder(config.ledger, error);
            else if (entry.key == QLatin1String("SwapFailedAfter"))
                ok = reader.Integer(0, 1000000, config.swapFailedAfter, error);
            else
                ok = ApplyPortKey(reader, common, error);
            if (!ok)
                return false;
        }
    }
    config.faultRate = common.faultRate;
    config.faultSeed = common.faultSeed;
    config.port.assign(size_t(config.ports), common);
    // Never destroyed: a thread the caller leaves running at exit may still be configuring the farm.
    static const QRegularExpression& portGroup =
        *new QRegularExpression(QStringLiteral("^Port-COM([0-9]{1,4})$"));
    for (const IniGroup& group : ini.Groups()) {
        if (&group == farm)
            continue;
        const QRegularExpressionMatch match = portGroup.match(group.name);
        const int index = match.hasMatch() ? match.captured(1).toInt() - config.firstCom : -1;
        if (index < 0 || index >= config.ports) {
            error =
                QStringLiteral("Farm file %1, line %2: group [%3] names no port of the farm (COM%4 to COM%5)")
                    .arg(path)
                    .arg(group.line)
                    .arg(group.name)
                    .arg(config.firstCom)
                    .arg(config.firstCom + config.ports - 1);
            return false;
        }
        for (const IniEntry& entry : group.entries) {
            const KeyReader reader(path, group.name, entry);
            if (IsFarmOnly(entry.key))
                return reader.Fail(QStringLiteral("no such key here: it belongs to the group Farm"), error);
            if (!ApplyPortKey(reader, config.port[size_t(index)], error))
                return false;
        }
    }
    out = config;
    return true;
}

} // namespace quillonsim
