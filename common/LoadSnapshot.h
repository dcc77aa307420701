#pragma once

#include <QDateTime>
#include <QString>

#include <vector>

// The files of a checked load as the check saw them: the flash XML, the scatter file and the checksum list.
// A share that drops or a load copied over while a run goes on would otherwise fail every next device and
// blame it; a look at three files' size and time before a session touches its device costs next to nothing.
class LoadSnapshot
{
public:
    LoadSnapshot() = default;
    static LoadSnapshot Take(const QString& flashXml, const QString& scatter, const QString& checksumList);

    bool IsEmpty() const { return files.empty(); }
    QString FlashXml() const { return files.empty() ? QString() : files.front().path; }
    // Empty while every file is as it was; otherwise which file is missing, has appeared or has changed.
    // Safe from any thread: it only reads the file system.
    QString Changed() const;

private:
    struct File
    {
        QString path;
        bool existed = false;
        qint64 size = 0;
        QDateTime modified;
    };

    std::vector<File> files;
};
