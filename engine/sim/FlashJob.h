// Downloads every image a scatter file lists: streamed from disk in chunks at the link's rate, hashed as the
// device receives it, with progress over the whole load.
#pragma once

#include "OperationContext.h"

#include "LoadFormat.h"

#include <QFile>
#include <QHash>
#include <QString>

#include <vector>

namespace quillonsim {

class FlashJob
{
public:
    static constexpr qint64 kChunk = 1024 * 1024;
    // A chunk is read and hashed in pieces this size: a block under the allocator's mapping threshold is
    // reused from its pool, where a whole chunk would be mapped, faulted in and zeroed afresh for every job.
    static constexpr qint64 kReadPiece = 64 * 1024;

    explicit FlashJob(OperationContext& context) : context(context) {}

    Status Run(const QString& scatterPath);

private:
    struct Image
    {
        QString path;
        QString name;
        QString partition;
        qint64 size = 0;
    };

    Status StreamAll(const std::vector<Image>& images);
    Status StreamImage(const Image& image);
    void ReadExpectedChecksums(const QString& scatterPath);
    void NoteImage(const Image& image, bool whole, const QString& checksum);
    Status AfterChunk(qint64 length);
    Status WaitForHub();
    Status Receive(const uchar* data, qint64 length, loadformat::LoadChecksum& sum);
    Status DropIfDue(qint64 length);
    bool ReadChunk(QFile& file, qint64 length, bool& corrupt, loadformat::LoadChecksum& sum);

    OperationContext& context;
    quint64 total = 0;
    quint64 done = 0;
    TimePoint started;
    double bytesPerSecond = 0;                 // the link's rate; 0: as fast as the host reads
    const UsbHub::Stream* hubStream = nullptr; // while the download streams behind a limiting hub
    int dropPercent = -1;
    QString stageText;
    QHash<QString, QString> expected; // image name to the load's checksum, read only for the ledger
    std::vector<uchar> buffer; // one read piece, reused for every image
};

} // namespace quillonsim
