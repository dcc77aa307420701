#include "SampleLoadWriter.h"

#include "LoadFormat.h"
#include "Xoshiro256.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>

#include <algorithm>
#include <vector>

namespace {

constexpr qint64 kWriteBlock = 4 * 1024 * 1024;
const QString kScatterName = QStringLiteral("load_scatter.txt");

struct KnownImage
{
    const char* partition;
    const char* name;
};

const KnownImage kKnownImages[] = {
    {"preloader", "preloader.bin"}, {"lk", "lk.img"},
    {"boot", "boot.img"},           {"recovery", "recovery.img"},
    {"system", "system.img"},       {"userdata", "userdata.img"},
    {"vendor", "vendor.img"},       {"cache", "cache.img"},
    {"logo", "logo.bin"},           {"tee", "tee.img"},
    {"dtbo", "dtbo.img"},           {"vbmeta", "vbmeta.img"},
    {"md1img", "md1img.img"},       {"scp", "scp.img"},
    {"sspm", "sspm.img"},           {"spmfw", "spmfw.img"},
};
constexpr int kKnownCount = int(sizeof kKnownImages / sizeof kKnownImages[0]);

const char* const kFlashXml = R"(<?xml version="1.0" encoding="UTF-8"?>
<flash>
    <scatter>load_scatter.txt</scatter>
    <contact>Factory tooling support, line 3</contact>
</flash>
)";

const char* const kFlashXsd = R"(<?xml version="1.0" encoding="UTF-8"?>
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" elementFormDefault="qualified">
    <xs:element name="flash">
        <xs:complexType>
            <xs:sequence>
                <xs:element name="scatter" type="xs:string"/>
                <xs:element name="contact" type="xs:string"/>
            </xs:sequence>
        </xs:complexType>
    </xs:element>
</xs:schema>
)";

} // namespace

SampleLoadWriter::SampleLoadWriter(const SampleLoadOptions& options) : options(options) {}

QVector<uint64_t> SampleLoadWriter::SplitSizes(uint64_t total, int count, Xoshiro256& random)
{
    // Share out what is left above 1, 2, ..., n by random weights, then add n, n-1, ..., 1 to the shares
    // in falling order: the sums fall strictly, so no two sizes are equal and they add up to total.
    const uint64_t base = uint64_t(count) * uint64_t(count + 1) / 2;
    const uint64_t spare = total - base;
    std::vector<uint64_t> weights(static_cast<size_t>(count));
    uint64_t weightSum = 0;
    for (uint64_t& weight : weights) {
        weight = 1 + random.Below(1000);
        weightSum += weight;
    }
    std::vector<uint64_t> shares(static_cast<size_t>(count));
    uint64_t given = 0;
    for (int i = 0; i < count; ++i) {
        // spare / weightSum * weight without the overflow of spare * weight for terabyte totals.
        const uint64_t share =
            spare / weightSum * weights[size_t(i)] + spare % weightSum * weights[size_t(i)] / weightSum;
        shares[size_t(i)] = share;
        given += share;
    }
    shares[0] += spare - given;
    std::sort(shares.begin(), shares.end(), [](uint64_t a, uint64_t b) { return a > b; });
    QVector<uint64_t> sizes;
    for (int i = 0; i < count; ++i)
        sizes.append(shares[size_t(i)] + uint64_t(count - i));
    for (int i = count - 1; i > 0; --i)
        std::swap(sizes[i], sizes[int(random.Below(uint64_t(i) + 1))]);
    return sizes;
}

QVector<SampleLoadWriter::Image> SampleLoadWriter::PlanImages(uint64_t total, int count, Xoshiro256& random,
                                                              uint64_t largest)
{
    QVector<uint64_t> sizes;
    if (largest == 0) {
        sizes = SplitSizes(total, count, random);
    } else {
        // The system image's slot, or the last one in a smaller load.
        sizes = SplitSizes(total - largest, count - 1, random);
        sizes.insert(std::min(4, count - 1), largest);
    }
    QVector<Image> planned;
    for (int i = 0; i < count; ++i) {
        Image image;
        if (i < kKnownCount) {
            image.partition = QString::fromLatin1(kKnownImages[i].partition);
            image.name = QString::fromLatin1(kKnownImages[i].name);
        } else {
            image.partition = QStringLiteral("extra%1").arg(i - kKnownCount + 1, 2, 10, QLatin1Char('0'));
            image.name = image.partition + QStringLiteral(".img");
        }
        image.size = sizes.at(i);
        planned.append(image);
    }
    return planned;
}

bool SampleLoadWriter::PrepareFolder(QString& error)
{
    QDir dir(options.outFolder);
    if (!dir.mkpath(QStringLiteral("."))) {
        error = QStringLiteral("%1: cannot create the folder").arg(options.outFolder);
        return false;
    }
    folder = dir.absolutePath();
    const QFileInfo info(folder);
    if (!info.isDir() || !info.isWritable()) {
        error = QStringLiteral("%1: the folder is not writable").arg(folder);
        return false;
    }
    const QStorageInfo storage(folder);
    // Leave a little room for the text files and for whatever else shares the disk.
    const qint64 needed = qint64(std::min<uint64_t>(options.totalSize, INT64_MAX / 2)) + 16 * 1024 * 1024;
    if (storage.isValid() && storage.bytesAvailable() < needed) {
        error =
            QStringLiteral("%1: a load of %2 bytes does not fit; %3 bytes are free")
                .arg(folder, QString::number(options.totalSize), QString::number(storage.bytesAvailable()));
        return false;
    }
    return true;
}

bool SampleLoadWriter::WriteImage(const Image& image, Xoshiro256& random, QString& error)
{
    const QString path = folder + QLatin1Char('/') + image.name;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    std::vector<char> block(static_cast<size_t>(kWriteBlock));
    uint64_t left = image.size;
    while (left > 0) {
        const qint64 length = qint64(std::min<uint64_t>(left, uint64_t(kWriteBlock)));
        random.Fill(block.data(), size_t(length));
        if (file.write(block.data(), length) != length) {
            error = QStringLiteral("%1: %2").arg(path, file.errorString());
            return false;
        }
        left -= uint64_t(length);
    }
    if (!file.commit()) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool SampleLoadWriter::WriteScatterFile(QString& error)
{
    QVector<loadformat::ScatterEntry> entries;
    for (int i = 0; i < images.size(); ++i) {
        entries.append({images.at(i).partition, images.at(i).name, 0});
        // One partition that the load leaves alone, as real loads have.
        if (i == 0)
            entries.append({QStringLiteral("nvram"), QStringLiteral("NONE"), 0});
    }
    const QString comment = QStringLiteral("Sample load written by pxl_sample_load (seed %1).\n"
                                           "<partition> <image file>; NONE = not downloaded.")
                                .arg(options.seed);
    return loadformat::WriteScatter(folder + QLatin1Char('/') + kScatterName, entries, comment, error);
}

bool SampleLoadWriter::WriteText(const QString& name, const QByteArray& content, QString& error)
{
    const QString path = folder + QLatin1Char('/') + name;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit()) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool SampleLoadWriter::Write(QString& error)
{
    if (!PrepareFolder(error))
        return false;
    Xoshiro256 random(options.seed);
    images = PlanImages(options.totalSize, options.imageCount, random, options.LargestSize());
    for (const Image& image : images) {
        if (!WriteImage(image, random, error))
            return false;
    }
    QVector<loadformat::ChecksumListEntry> listed;
    // The flash XML comes last, so a load interrupted half-way is never picked up as complete.
    return WriteScatterFile(error) &&
           loadformat::WriteChecksumListForScatter(folder + QLatin1Char('/') + kScatterName, listed, error) &&
           WriteText(QStringLiteral("flash.xsd"), kFlashXsd, error) &&
           WriteText(QStringLiteral("flash.xml"), kFlashXml, error);
}
