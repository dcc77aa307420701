#pragma once

#include "platform/Platform.h"

#include <QByteArray>
#include <QString>

#include <vector>

// The files of a checked load as the check saw them: the flash XML, the scatter file, the checksum list and
// every image the scatter file downloads, each by the version the file system gives (identity, size, change
// and modification times), and the checksum list's bytes. Taken before the image check and confirmed
// unchanged after it, so the list held here is the one the check compared the images with; each device is
// then compared with it, not with whatever the file says later. A look at every version before a session
// touches its device costs a few stat calls.
class LoadSnapshot
{
public:
    // A checksum list is a few megabytes at most; a bigger file is not one.
    static constexpr qint64 kMaximumListSize = 64 * 1024 * 1024;

    LoadSnapshot() = default;
    static LoadSnapshot Take(const QString& flashXml, const QString& scatter);

    bool IsEmpty() const { return files.empty(); }
    QString FlashXml() const { return files.empty() ? QString() : files.front().path; }
    QString Scatter() const { return scatter; }
    QString ChecksumListPath() const { return listPath; }
    // The checksum list's bytes when the snapshot was taken; null when it could not be read.
    const QByteArray& ChecksumList() const { return checksumList; }
    // Empty while every file is as it was; otherwise which file is missing, has appeared, was replaced or has
    // changed. Safe from any thread: it only reads the file system.
    QString Changed() const;

private:
    struct File
    {
        QString path;
        Platform::FileVersion version;
    };

    std::vector<File> files;
    QString scatter;
    QString listPath;
    QByteArray checksumList;
};
