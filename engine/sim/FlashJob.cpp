#include "FlashJob.h"

#include "LoadFormat.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonObject>

#include <algorithm>
#include <optional>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#endif

namespace quillonsim {

Status FlashJob::Run(const QString& scatterPath)
{
    loadformat::Scatter scatter;
    QString error;
    if (!QFileInfo(scatterPath).isFile())
        return Status::Fail(QUILLON_E_IO, QStringLiteral("Scatter file not found: %1").arg(scatterPath));
    if (!loadformat::ReadScatter(scatterPath, scatter, error))
        return Status::Fail(QUILLON_E_IO, QStringLiteral("Cannot read the scatter file: %1").arg(error));
    std::vector<Image> images;
    for (const loadformat::ScatterEntry& entry : scatter.images) {
        Image image{scatter.ImagePath(entry), entry.image, entry.partition, 0};
        const QFileInfo info(image.path);
        if (!info.isFile())
            return Status::Fail(QUILLON_E_IO, QStringLiteral("Image not found: %1").arg(image.path));
        image.size = info.size();
        total += quint64(image.size);
        images.push_back(image);
    }
    const PortSettings& settings = context.Settings();
    const double scale = context.TheFarm().Clock().Scale();
    if (settings.linkMBps > 0 && scale > 0)
        bytesPerSecond = settings.linkMBps * 1.0e6 / scale;
    const FaultPlan& fault = context.TheSession().fault;
    if (fault.Fails(Stage::Transfer, context.TheSession().device.deviceNumber))
        dropPercent = fault.failPercent;
    ReadExpectedChecksums(scatterPath);
    // The device streams through the hub only while it downloads, so others speed up once it is done.
    std::optional<UsbHub::Stream> shared;
    if (context.TheFarm().Hub().Limits())
        shared.emplace(context.TheFarm().Hub(), bytesPerSecond);
    hubStream = shared ? &*shared : nullptr;
    const Status status = StreamAll(images);
    hubStream = nullptr;
    return status;
}

Status FlashJob::StreamAll(const std::vector<Image>& images)
{
    started = FarmClock::Now();
    context.Progress().Report(0, 0, QStringLiteral("Downloading"));
    for (const Image& image : images) {
        stageText = QStringLiteral("Downloading %1").arg(image.name);
        const Status status = StreamImage(image);
        if (!status.Ok()) {
            NoteImage(image, false, QString());
            return status;
        }
    }
    context.Progress().Report(100, done, QStringLiteral("Download done"));
    return Status::Success();
}

void FlashJob::ReadExpectedChecksums(const QString& scatterPath)
{
    if (!context.TheFarm().Config().ledger.isEmpty()) {
        QVector<loadformat::ChecksumListEntry> entries;
        QString error;
        if (loadformat::ReadChecksumList(loadformat::ChecksumListPath(scatterPath), entries, error)) {
            for (const loadformat::ChecksumListEntry& entry : entries)
                expected.insert(entry.name, entry.checksum);
        }
    }
}

void FlashJob::NoteImage(const Image& image, bool whole, const QString& checksum)
{
    Session& session = context.TheSession();
    const auto listed = expected.constFind(image.name);
    // Against the load's own list, so the ledger says what the device really holds.
    const QJsonValue matches = !whole                          ? QJsonValue(false)
                               : listed == expected.constEnd() ? QJsonValue()
                                                               : QJsonValue(*listed == checksum);
    if (whole && matches == QJsonValue(false))
        session.failed = true;
    context.TheFarm().Note(session.device, QStringLiteral("image"),
                           {{QStringLiteral("image"), image.name},
                            {QStringLiteral("session"), double(session.Id())},
                            {QStringLiteral("whole"), whole},
                            {QStringLiteral("checksum"), checksum},
                            {QStringLiteral("checksumMatches"), matches}});
}

Status FlashJob::AfterChunk(qint64 length)
{
    done += quint64(length);
    context.Progress().Report(ProgressReporter::Percent(done, total), done, stageText);
    if (hubStream != nullptr)
        return WaitForHub();
    if (bytesPerSecond > 0) {
        const TimePoint due = started + FarmClock::Milliseconds(double(done) * 1000.0 / bytesPerSecond);
        const TimePoint now = FarmClock::Now();
        if (due > now) {
            const Farm::WaitEnd end = context.TheFarm().Delay(due - now, context.Stop());
            if (end != Farm::WaitEnd::Ready)
                return OperationContext::Interrupted(end);
        }
    }
    return context.CheckCancelled();
}

Status FlashJob::WaitForHub()
{
    // Another device may start or stop during the wait and change this one's share, so the due time is asked
    // again at least every poll interval.
    for (;;) {
        const TimePoint due = hubStream->DueFor(done);
        const TimePoint now = FarmClock::Now();
        if (due <= now)
            return context.CheckCancelled();
        const Farm::WaitEnd end =
            context.TheFarm().Delay(std::min<Duration>(due - now, FarmClock::kPollInterval), context.Stop());
        if (end != Farm::WaitEnd::Ready)
            return OperationContext::Interrupted(end);
    }
}

Status FlashJob::Receive(const uchar* data, qint64 length, loadformat::LoadChecksum& sum)
{
    const Status dropped = DropIfDue(length);
    if (!dropped.Ok())
        return dropped;
    sum.Update(data, size_t(length));
    return AfterChunk(length);
}

Status FlashJob::DropIfDue(qint64 length)
{
    if (dropPercent >= 0 && (total == 0 || (done + quint64(length)) * 100 >= quint64(dropPercent) * total)) {
        Session& session = context.TheSession();
        context.TheFarm().DropOff(session.device);
        session.state = Session::State::Lost;
        return Status::Fail(QUILLON_E_DEVICE,
                            QStringLiteral("Device on %1 dropped off at %2% of the download")
                                .arg(context.PortName())
                                .arg(ProgressReporter::Percent(done, total)));
    }
    return Status::Success();
}

bool FlashJob::ReadChunk(QFile& file, qint64 length, bool& corrupt, loadformat::LoadChecksum& sum)
{
    for (qint64 read = 0; read < length;) {
        const qint64 piece = std::min(qint64(buffer.size()), length - read);
        if (file.read(reinterpret_cast<char*>(buffer.data()), piece) != piece)
            return false;
        if (corrupt) {
            // The device received one damaged byte, so its checksum for this image differs from the load's.
            buffer[0] ^= 0x5a;
            corrupt = false;
        }
        sum.Update(buffer.data(), size_t(piece));
        read += piece;
    }
    return true;
}

Status FlashJob::StreamImage(const Image& image)
{
    // Reads, not a mapping: a file cut short under a mapping raises SIGBUS and ends the caller's process.
    QFile file(image.path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return Status::Fail(QUILLON_E_IO,
                            QStringLiteral("Cannot read image %1: %2").arg(image.path, file.errorString()));
    if (file.size() != image.size)
        return Status::Fail(QUILLON_E_IO,
                            QStringLiteral("Image %1 changed during the download").arg(image.path));
#ifdef Q_OS_UNIX
    posix_fadvise(file.handle(), 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    loadformat::LoadChecksum sum;
    const QString& corruptImage = context.TheSession().fault.corruptImage;
    bool corrupt =
        corruptImage == QLatin1String("*") || (!corruptImage.isEmpty() && corruptImage == image.name);
    if (image.size == 0) {
        const uchar damaged = 0x5a;
        if (corrupt)
            sum.Update(&damaged, 1);
        const Status status = Receive(nullptr, 0, sum);
        if (!status.Ok())
            return status;
    }
    if (buffer.empty())
        buffer.resize(size_t(kReadPiece));
    for (qint64 offset = 0; offset < image.size;) {
        const qint64 length = std::min(kChunk, image.size - offset);
        if (!ReadChunk(file, length, corrupt, sum))
            return Status::Fail(
                QUILLON_E_IO,
                QStringLiteral("Image %1 changed or became unreadable during the download").arg(image.path));
        // The device drops off with the chunk that crosses its percent, whose bytes it never keeps.
        const Status dropped = DropIfDue(length);
        if (!dropped.Ok())
            return dropped;
        const Status status = AfterChunk(length);
        if (!status.Ok())
            return status;
        offset += length;
    }
    context.TheSession().AddDownloaded({image.path, sum.Text(), image.partition});
    NoteImage(image, true, sum.Text());
    return Status::Success();
}

} // namespace quillonsim
