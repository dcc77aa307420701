// Writes a complete sample load into a folder: random images, the scatter file, the checksum list, the
// schema and the flash XML that names the scatter file.
#pragma once

#include "SampleLoadOptions.h"

#include <QString>
#include <QVector>

#include <cstdint>

class Xoshiro256;

class SampleLoadWriter
{
public:
    struct Image
    {
        QString partition;
        QString name;
        uint64_t size = 0;
    };

    explicit SampleLoadWriter(const SampleLoadOptions& options);

    bool Write(QString& error);
    const QVector<Image>& Images() const { return images; }

    // Pairwise different sizes of at least one byte that add up to total (needs total >= n(n+1)/2).
    static QVector<uint64_t> SplitSizes(uint64_t total, int count, Xoshiro256& random);
    // With largest > 0, one image has that size and the others share the rest.
    static QVector<Image> PlanImages(uint64_t total, int count, Xoshiro256& random, uint64_t largest = 0);

private:
    bool PrepareFolder(QString& error);
    bool WriteImage(const Image& image, Xoshiro256& random, QString& error);
    bool WriteScatterFile(QString& error);
    bool WriteText(const QString& name, const QByteArray& content, QString& error);

    SampleLoadOptions options;
    QString folder;
    QVector<Image> images;
};
