#include "SampleLoadOptions.h"

#include <limits>

bool SampleLoadOptions::ParseSize(const QString& text, uint64_t& bytes)
{
    QString digits = text;
    uint64_t unit = 1;
    if (!digits.isEmpty()) {
        const QChar suffix = digits.back().toUpper();
        if (suffix == QLatin1Char('K'))
            unit = uint64_t(1) << 10;
        else if (suffix == QLatin1Char('M'))
            unit = uint64_t(1) << 20;
        else if (suffix == QLatin1Char('G'))
            unit = uint64_t(1) << 30;
        if (unit != 1)
            digits.chop(1);
    }
    if (digits.isEmpty())
        return false;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    bool ok = false;
    const qulonglong value = digits.toULongLong(&ok, 10);
    if (!ok || value > std::numeric_limits<uint64_t>::max() / unit)
        return false;
    bytes = value * unit;
    return true;
}

QString SampleLoadOptions::Usage()
{
    return QStringLiteral("usage: pxl_sample_load --out DIR --size <bytes>[K|M|G] [--images N] [--seed S]\n"
                          "                       [--largest PERCENT]\n"
                          "Writes a complete sample load (flash.xml, flash.xsd, load_scatter.txt, random\n"
                          "images of different sizes that sum to the total, scatter_checksum.xml) into DIR.\n"
                          "--largest gives one image (system.img when there are five or more) that share\n"
                          "of the total, from 51 to 99 percent.");
}

bool SampleLoadOptions::Parse(const QStringList& arguments, QString& error)
{
    bool haveOut = false;
    bool haveSize = false;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& option = arguments.at(i);
        if (option != QLatin1String("--out") && option != QLatin1String("--size") &&
            option != QLatin1String("--images") && option != QLatin1String("--seed") &&
            option != QLatin1String("--largest")) {
            error = QStringLiteral("unknown argument \"%1\"").arg(option);
            return false;
        }
        if (i + 1 >= arguments.size()) {
            error = QStringLiteral("%1 needs a value").arg(option);
            return false;
        }
        const QString value = arguments.at(++i);
        if (option == QLatin1String("--out")) {
            if (value.isEmpty()) {
                error = QStringLiteral("--out needs a folder");
                return false;
            }
            outFolder = value;
            haveOut = true;
        } else if (option == QLatin1String("--size")) {
            if (!ParseSize(value, totalSize) || totalSize == 0) {
                error = QStringLiteral("--size \"%1\" is not a positive byte count (digits with an optional "
                                       "K, M or G)")
                            .arg(value);
                return false;
            }
            haveSize = true;
        } else if (option == QLatin1String("--images")) {
            bool ok = false;
            imageCount = value.toInt(&ok, 10);
            if (!ok || imageCount < 1 || imageCount > kMaxImages) {
                error = QStringLiteral("--images \"%1\" is not a number from 1 to %2")
                            .arg(value, QString::number(kMaxImages));
                return false;
            }
        } else if (option == QLatin1String("--largest")) {
            bool ok = false;
            largestPercent = value.toInt(&ok, 10);
            if (!ok || largestPercent < 51 || largestPercent > 99) {
                error = QStringLiteral("--largest \"%1\" is not a percentage from 51 to 99").arg(value);
                return false;
            }
        } else {
            bool ok = false;
            seed = value.toULongLong(&ok, 0);
            if (!ok) {
                error = QStringLiteral("--seed \"%1\" is not a number").arg(value);
                return false;
            }
        }
    }
    if (!haveOut || !haveSize) {
        error = QStringLiteral("%1 is required")
                    .arg(!haveOut ? QStringLiteral("--out") : QStringLiteral("--size"));
        return false;
    }
    if (largestPercent != 0 && imageCount < 2) {
        error = QStringLiteral("--largest needs at least two images");
        return false;
    }
    // Images of pairwise different sizes of at least one byte need 1 + 2 + ... + n bytes.
    const uint64_t minimum = uint64_t(imageCount) * uint64_t(imageCount + 1) / 2;
    if (totalSize < minimum || totalSize - LargestSize() < minimum - uint64_t(imageCount)) {
        error = QStringLiteral("--size %1 is too small for %2 images of different sizes (at least %3 bytes)")
                    .arg(totalSize)
                    .arg(imageCount)
                    .arg(minimum);
        return false;
    }
    return true;
}

uint64_t SampleLoadOptions::LargestSize() const
{
    // Divided first, so that totals near the top of the range cannot overflow.
    return largestPercent == 0 ? 0
                               : totalSize / 100 * uint64_t(largestPercent) +
                                     totalSize % 100 * uint64_t(largestPercent) / 100;
}
