// A strict reader of the farm's INI text: groups of key = value lines, nothing guessed.
#pragma once

#include <QString>
#include <QVector>

namespace quillonsim {

struct IniEntry
{
    QString key;
    QString value;
    int line = 0;
};

struct IniGroup
{
    QString name;
    int line = 0;
    QVector<IniEntry> entries;
};

class IniFile
{
public:
    // Refuses lines that are neither comments, group headers nor key = value, and a key given twice in one
    // group; the error names the file and the line.
    bool Read(const QString& path, QString& error);

    const QString& Path() const { return path; }
    const QVector<IniGroup>& Groups() const { return groups; }

private:
    QString path;
    QVector<IniGroup> groups;
};

} // namespace quillonsim
