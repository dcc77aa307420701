#pragma once

#include <QString>
#include <QVariant>

// One key of the settings file. Every read and write opens the file anew, and every write is synced at
// once, so a crash loses nothing already written.
struct IniSetting
{
    // The station's own settings file also takes the installer's file as its defaults (StationFolders).
    IniSetting(const QString& filePath, const QString& group, const QString& key);

    // The file the tool uses unless told otherwise: beside the executable, or the user's own for an installed
    // station.
    static QString DefaultPath();
    // True when the file exists and QSettings cannot read all of it (a broken group header, a line that is
    // no key): rewriting it would drop lines.
    static bool HasFormatError(const QString& filePath);

    QVariant ReadValue() const;
    // True only for "true", "1", "yes" and "on" in any letter case: a hand-edited "no" or "off" must never
    // switch on something that cannot be undone.
    bool ReadBool() const;
    // -1 when the value is missing or not an integer.
    int ReadInt() const;
    QString ReadString() const;

    // Leaves a file with a format error untouched, so no writer can drop what was written by hand.
    void WriteValue(const QVariant& value) const;
    void WriteBool(bool value) const;
    void WriteString(const QString& value) const;

    QString path;
    QString group;
    QString key;
    // Read for a key that path lacks, never written; empty for none.
    QString defaults;
};
