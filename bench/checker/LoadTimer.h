// Times one pass over a load's images, by the checker or by a command-line tool, with the page cache warm
// or emptied of the images first.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

class LoadTimer
{
public:
    LoadTimer(const QString& scatterPath, const QStringList& images, uint64_t bytes);

    // Seconds, or a negative value when the run failed (the reason is printed).
    double Checker(int hashing) const;
    double Tool(const QString& program, const QStringList& arguments) const;
    // Writes back and drops the images' cached pages, so the next pass reads them from the disk.
    bool Evict() const;
    // One pass of cat, so that every image is in the page cache.
    bool Warm() const;
    // GB/s of a time, or 0 for a failed run.
    double Rate(double seconds) const;

private:
    QString scatterPath;
    QStringList images;
    uint64_t bytes;
};
