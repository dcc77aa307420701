#include "LoadPlan.h"

#include "ImageName.h"
#include "LoadFormat.h"
#include "Utf8Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillcheck {

namespace {

constexpr size_t kMaxPathBytes = 64 * 1024;

} // namespace

CheckStatus LoadPlan::ScatterPath(const char* scatterPath, QString& path)
{
    if (scatterPath == nullptr || scatterPath[0] == '\0')
        return CheckStatus::Fail(QUILLON_E_INVALID_ARGUMENT, QStringLiteral("No scatter file path given"));
    const size_t length = strnlen(scatterPath, kMaxPathBytes + 1);
    if (length > kMaxPathBytes)
        return CheckStatus::Fail(
            QUILLON_E_INVALID_ARGUMENT,
            QStringLiteral("The scatter file path is longer than %1 bytes").arg(kMaxPathBytes));
    const QByteArray bytes(scatterPath, int(length));
    if (loadformat::Utf8Text::FirstInvalid(bytes) >= 0)
        return CheckStatus::Fail(QUILLON_E_INVALID_ARGUMENT,
                                 QStringLiteral("The scatter file path is not valid UTF-8"));
    path = QString::fromUtf8(bytes);
    // A relative path would be resolved against whatever folder the process happens to be in.
    if (QDir::isRelativePath(path))
        return CheckStatus::Fail(QUILLON_E_INVALID_ARGUMENT,
                                 QStringLiteral("The scatter file path \"%1\" is not absolute").arg(path));
    return CheckStatus::Success();
}

CheckStatus LoadPlan::MeasureImage(ImageJob& job)
{
    // lstat would refuse a load whose images are links into a build tree; the engine follows them too.
    struct stat info;
    if (::stat(job.localPath.constData(), &info) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return CheckStatus::Fail(
                QUILLON_E_IMAGE_MISSING,
                QStringLiteral("Image \"%1\" is listed but %2 does not exist").arg(job.name, job.path));
        return CheckStatus::Fail(
            QUILLON_E_IMAGE_UNREADABLE,
            QStringLiteral("Image %1: %2").arg(job.path, QString::fromLocal8Bit(strerror(error))));
    }
    if (S_ISDIR(info.st_mode))
        return CheckStatus::Fail(QUILLON_E_IMAGE_UNREADABLE,
                                 QStringLiteral("Image %1 is a folder, not a file").arg(job.path));
    if (!S_ISREG(info.st_mode))
        return CheckStatus::Fail(QUILLON_E_IMAGE_UNREADABLE,
                                 QStringLiteral("Image %1 is not a regular file").arg(job.path));
    if (::access(job.localPath.constData(), R_OK) != 0)
        return CheckStatus::Fail(QUILLON_E_IMAGE_UNREADABLE,
                                 QStringLiteral("Image %1 cannot be read: %2")
                                     .arg(job.path, QString::fromLocal8Bit(strerror(errno))));
    job.size = uint64_t(info.st_size);
    return CheckStatus::Success();
}

CheckStatus LoadPlan::Make(const char* scatterPath, std::vector<ImageJob>& jobs)
{
    QString scatterFile;
    CheckStatus status = ScatterPath(scatterPath, scatterFile);
    if (!status.Ok())
        return status;

    const QString listPath = loadformat::ChecksumListPath(scatterFile);
    if (!QFileInfo::exists(listPath))
        return CheckStatus::Fail(QUILLON_E_CHECKSUM_LIST_MISSING,
                                 QStringLiteral("Checksum list not found: %1").arg(listPath));

    loadformat::Scatter scatter;
    QString error;
    if (!loadformat::ReadScatter(scatterFile, scatter, error))
        return CheckStatus::Fail(QUILLON_E_SCATTER_INVALID,
                                 QStringLiteral("Scatter file refused: %1").arg(error));
    QVector<loadformat::ChecksumListEntry> listed;
    if (!loadformat::ReadChecksumList(listPath, listed, error))
        return CheckStatus::Fail(QUILLON_E_CHECKSUM_LIST_INVALID,
                                 QStringLiteral("Checksum list refused: %1").arg(error));
    if (listed.isEmpty())
        return CheckStatus::Fail(QUILLON_E_CHECKSUM_LIST_INVALID,
                                 QStringLiteral("Checksum list refused: %1 names no images").arg(listPath));

    QHash<QString, QString> scatterNameOfKey;
    for (const loadformat::ScatterEntry& entry : scatter.images)
        scatterNameOfKey.insert(loadformat::ImageName::Key(entry.image), entry.image);
    QHash<QString, int> listedKeys;
    for (const loadformat::ChecksumListEntry& entry : listed)
        listedKeys.insert(loadformat::ImageName::Key(entry.name), 0);
    for (const loadformat::ScatterEntry& entry : scatter.images) {
        if (!listedKeys.contains(loadformat::ImageName::Key(entry.image)))
            return CheckStatus::Fail(
                QUILLON_E_IMAGE_UNLISTED,
                QStringLiteral("Image \"%1\" (%2:%3) is downloaded but %4 does not list it")
                    .arg(entry.image, scatterFile, QString::number(entry.line), listPath));
    }

    std::vector<ImageJob> planned;
    planned.reserve(size_t(listed.size()));
    for (const loadformat::ChecksumListEntry& entry : listed) {
        ImageJob job;
        job.name = entry.name;
        job.nameUtf8 = entry.name.toUtf8();
        // The file the engine will download is the one the scatter file names.
        const QString fileName = scatterNameOfKey.value(loadformat::ImageName::Key(entry.name), entry.name);
        job.path = scatter.folder + QLatin1Char('/') + fileName;
        job.localPath = QFile::encodeName(job.path);
        job.expected = entry.checksum;
        status = MeasureImage(job);
        if (!status.Ok())
            return status;
        planned.push_back(std::move(job));
    }
    jobs = std::move(planned);
    return CheckStatus::Success();
}

} // namespace quillcheck
