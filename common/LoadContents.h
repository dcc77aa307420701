#pragma once

#include <QString>
#include <QVector>

// What a load's scatter file asks a device to receive, read by the tool itself: the image checker is a closed
// library, and a load it accepts may still name nothing to write. The scatter file is text, one partition a
// line, "<partition> <image file>", "#" starting a comment and image "NONE" meaning the partition is skipped;
// images are file names in the scatter file's folder.
struct LoadImage
{
    QString partition;
    QString file; // as the scatter file names it
    QString path; // in the scatter file's folder
};

struct LoadContents
{
    bool readable = false;
    QVector<LoadImage> images; // the images a device receives, in the file's order

    static LoadContents Read(const QString& scatterPath);
    // The bytes one device receives; images that cannot be found count nothing.
    qint64 TotalBytes() const;
    // Why a load the checker passed must still not be written: the scatter file cannot be read, it names no
    // image to download, or an image it downloads is missing from the checksum list beside it (when there is
    // one). Empty when the load may be used.
    static QString Problem(const QString& scatterPath);
};

// "scatter_checksum.xml" in the scatter file's folder.
QString LoadChecksumListPath(const QString& scatterPath);
