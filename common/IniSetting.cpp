#include "common/IniSetting.h"

#include "Utility/StationFolders.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

IniSetting::IniSetting(const QString& filePath, const QString& group, const QString& key)
    : path(filePath), group(group), key(key)
{
    const StationFolders folders = StationFolders::Current();
    if (path == folders.settingsFile)
        defaults = folders.installerSettingsFile;
}

QString IniSetting::DefaultPath() { return StationFolders::Current().settingsFile; }

bool IniSetting::HasFormatError(const QString& filePath)
{
    if (!QFileInfo(filePath).isFile())
        return false;
    {
        QSettings settings(filePath, QSettings::IniFormat);
        if (settings.status() == QSettings::FormatError)
            return true;
    }
    // QSettings passes over a line that is neither a group, a key nor a comment without a word, and a
    // rewrite would drop it: a hand edit gone wrong must not vanish at exit. A broken group header is looked
    // for here too: QSettings reports it only when it parses the file, not when it reuses its cached copy.
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('[') && !line.contains(']'))
            return true;
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#') || line.startsWith('['))
            continue;
        if (!line.contains('='))
            return true;
    }
    return false;
}

namespace {

bool ReadFrom(const QString& file, const QString& group, const QString& key, QVariant& value)
{
    QSettings settings(file, QSettings::IniFormat);
    settings.beginGroup(group);
    if (!settings.contains(key))
        return false;
    value = settings.value(key);
    return true;
}

} // namespace

QVariant IniSetting::ReadValue() const
{
    QVariant value;
    if (ReadFrom(path, group, key, value) || (!defaults.isEmpty() && ReadFrom(defaults, group, key, value)))
        return value;
    return QString();
}

bool IniSetting::ReadBool() const
{
    const QString text = ReadValue().toString().trimmed().toLower();
    return text == QLatin1String("true") || text == QLatin1String("1") || text == QLatin1String("yes") ||
           text == QLatin1String("on");
}

int IniSetting::ReadInt() const
{
    bool ok = false;
    const int value = ReadValue().toString().trimmed().toInt(&ok);
    return ok ? value : -1;
}

QString IniSetting::ReadString() const
{
    // An unquoted comma makes QSettings read a list; the operator meant the text as written.
    const QVariant value = ReadValue();
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

void IniSetting::WriteValue(const QVariant& value) const
{
    // QSettings rewrites the whole file on sync: what it could not read would be gone, whoever writes.
    if (HasFormatError(path))
        return;
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(group);
    settings.setValue(key, value);
    settings.endGroup();
    settings.sync();
}

void IniSetting::WriteBool(bool value) const { WriteValue(value); }

void IniSetting::WriteString(const QString& value) const { WriteValue(value); }
