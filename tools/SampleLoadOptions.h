// The command line of the sample-load generator.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

class SampleLoadOptions
{
public:
    static constexpr int kMaxImages = 64;

    QString outFolder;
    uint64_t totalSize = 0;
    int imageCount = 6;
    uint64_t seed = 1;
    // Share of the total, in percent, that one image takes, as a real load's system image does; 0 = none.
    int largestPercent = 0;

    // False with a message naming the offending argument; the first argument is the program name.
    bool Parse(const QStringList& arguments, QString& error);
    static QString Usage();
    // "<digits>[K|M|G]" with binary multiples.
    static bool ParseSize(const QString& text, uint64_t& bytes);
    // The bytes of the image that --largest asks for, or 0.
    uint64_t LargestSize() const;
};
