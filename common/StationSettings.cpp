#include "common/StationSettings.h"

#include "Utility/StationFolders.h"
#include "logging/Log.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include <functional>
#include <vector>

static constexpr char kLogSource[] = "Common\\StationSettings";

namespace {

// The same words as every other boolean of the file; anything else is a typo that must not pass as false.
bool ParseBool(const QString& text, bool& value)
{
    const QString word = text.trimmed().toLower();
    if (word == QLatin1String("true") || word == QLatin1String("1") || word == QLatin1String("yes") ||
        word == QLatin1String("on")) {
        value = true;
        return true;
    }
    if (word == QLatin1String("false") || word == QLatin1String("0") || word == QLatin1String("no") ||
        word == QLatin1String("off")) {
        value = false;
        return true;
    }
    return false;
}

bool ParseCount(const QString& text, int& value)
{
    bool ok = false;
    const int number = text.trimmed().toInt(&ok);
    if (!ok || number < 0)
        return false;
    value = number;
    return true;
}

bool ParseDigest(const QString& text, QString& value)
{
    static const QRegularExpression digest(QStringLiteral("^[0-9a-fA-F]{16}$"));
    const QString trimmed = text.trimmed();
    if (!digest.match(trimmed).hasMatch())
        return false;
    value = trimmed.toLower();
    return true;
}

struct Key
{
    const char* name;
    const char* expected; // for the operator, when a value is refused
    std::function<bool(const QString&, StationSettings&)> parse;
};

const std::vector<Key>& Keys()
{
    static const std::vector<Key> keys{
        {"RequireVerification", "true or false",
         [](const QString& text, StationSettings& s) { return ParseBool(text, s.requireVerification); }},
        {"QuarantineAfter", "a whole number, 0 or more",
         [](const QString& text, StationSettings& s) { return ParseCount(text, s.quarantineAfter); }},
        {"Locked", "true or false",
         [](const QString& text, StationSettings& s) { return ParseBool(text, s.locked); }},
        {"LoadDigest", "16 hexadecimal digits",
         [](const QString& text, StationSettings& s) { return ParseDigest(text, s.loadDigest); }},
        {"Target", "a whole number, 0 or more",
         [](const QString& text, StationSettings& s) { return ParseCount(text, s.target); }},
        {"ReadUnitId", "true or false",
         [](const QString& text, StationSettings& s) { return ParseBool(text, s.readUnitId); }},
        {"LogBudgetMB", "a whole number, 0 or more",
         [](const QString& text, StationSettings& s) { return ParseCount(text, s.logBudgetMB); }},
        {"LogKeepDays", "a whole number, 0 or more",
         [](const QString& text, StationSettings& s) { return ParseCount(text, s.logKeepDays); }},
        {"LogFileMB", "a whole number, 0 or more",
         [](const QString& text, StationSettings& s) { return ParseCount(text, s.logFileMB); }},
        {"LogFilesKept", "a whole number, 0 or more",
         [](const QString& text, StationSettings& s) { return ParseCount(text, s.logFilesKept); }},
        {"MinFreeMB", "a whole number, 0 or more",
         [](const QString& text, StationSettings& s) { return ParseCount(text, s.minFreeMB); }},
        {"StageLoad", "true or false",
         [](const QString& text, StationSettings& s) { return ParseBool(text, s.stageLoad); }},
    };
    return keys;
}

} // namespace

StationSettings StationSettings::Read(const QString& file)
{
    // An installed station's policy is the installer's alone: a user's own file must not loosen it.
    const StationFolders folders = StationFolders::Current();
    const QString settingsFile = folders.installed && file == folders.settingsFile ? folders.installerSettingsFile : file;
    StationSettings result;
    if (!QFileInfo(settingsFile).isFile())
        return result;
    QSettings settings(settingsFile, QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Station"));
    for (const QString& name : settings.childKeys()) {
        const Key* key = nullptr;
        // Keys are matched in any letter case, as the file's reader on the station's own platform does.
        for (const Key& candidate : Keys()) {
            if (name.compare(QLatin1String(candidate.name), Qt::CaseInsensitive) == 0)
                key = &candidate;
        }
        if (key == nullptr) {
            result.notices << QStringLiteral("[Station] %1 is not a key this version knows; ignored.").arg(name);
            continue;
        }
        const QVariant value = settings.value(name);
        // An unquoted comma reads as a list, which no key of the group takes. A refused value leaves the
        // key's default, since each parser writes only what it accepted.
        const bool isList = value.type() == QVariant::StringList;
        if (isList || !key->parse(value.toString(), result)) {
            const QString shown = isList ? value.toStringList().join(QLatin1Char(',')) : value.toString();
            result.errors << QStringLiteral("[Station] %1=%2 is not %3; the key is ignored.")
                                 .arg(name, shown, QLatin1String(key->expected));
        }
    }
    settings.endGroup();
    return result;
}

StationSettings StationSettings::InForce(const QString& settingsFile, const QString& defaultFile)
{
    if (defaultFile.isEmpty() || QFileInfo(settingsFile) == QFileInfo(defaultFile))
        return Read(settingsFile);
    StationSettings station = Read(defaultFile);
    if (!station.locked)
        return Read(settingsFile);
    station.notices << QStringLiteral("[Station] of %1 is locked and binds this run; the group of %2 is not read.")
                           .arg(defaultFile, settingsFile);
    return station;
}

void StationSettings::Log() const
{
    for (const QString& notice : notices)
        LOGI("StationSettings::Read", "%s", notice.toUtf8().constData());
    for (const QString& error : errors)
        LOGE("StationSettings::Read", "%s", error.toUtf8().constData());
}
