#include "ImageReader.h"

#include "Xxh3Stream.h"
#include "quillon.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillcheck {

namespace {

HashOutcome Failure(size_t index, int code, const QString& reason)
{
    HashOutcome outcome;
    outcome.job = index;
    outcome.code = code;
    outcome.reason = reason;
    return outcome;
}

QString ErrorText(int error)
{
    return QString::fromLocal8Bit(strerror(error));
}

// Closes the descriptor on every way out.
class Descriptor
{
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd; }

private:
    int fd;
};

} // namespace

ImageReader::ImageReader() : block(kBlock) {}

HashOutcome ImageReader::Hash(const ImageJob& job, size_t index, const std::atomic<bool>& stop,
                              std::atomic<uint64_t>& bytesDone)
{
    // Non-blocking, because a file replaced by a named pipe since it was measured would wait for a writer.
    const Descriptor file(::open(job.localPath.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.Get() < 0) {
        const int error = errno;
        return Failure(index, error == ENOENT ? QUILLON_E_IMAGE_MISSING : QUILLON_E_IMAGE_UNREADABLE,
                       QStringLiteral("Image %1 cannot be opened: %2").arg(job.path, ErrorText(error)));
    }
    struct stat info;
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return Failure(index, QUILLON_E_IMAGE_UNREADABLE,
                       QStringLiteral("Image %1 is no longer a regular file").arg(job.path));
    posix_fadvise(file.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    loadformat::Xxh3Stream stream;
    uint64_t offset = 0;
    while (offset < job.size) {
        if (stop.load(std::memory_order_relaxed))
            return Failure(index, QUILLON_E_CANCELLED, QStringLiteral("Operation cancelled by user"));
        const size_t wanted = size_t(std::min<uint64_t>(kBlock, job.size - offset));
        const ssize_t got = ::pread(file.Get(), block.data(), wanted, off_t(offset));
        if (got < 0) {
            const int error = errno;
            if (error == EINTR)
                continue;
            return Failure(index, QUILLON_E_IMAGE_UNREADABLE,
                           QStringLiteral("Image %1 cannot be read at byte %2: %3")
                               .arg(job.path, QString::number(offset), ErrorText(error)));
        }
        if (got == 0)
            return Failure(index, QUILLON_E_IMAGE_CHANGED,
                           QStringLiteral("Image %1 was cut short to %2 of its %3 bytes while it was hashed")
                               .arg(job.path, QString::number(offset), QString::number(job.size)));
        stream.Update(block.data(), size_t(got));
        offset += uint64_t(got);
        bytesDone.fetch_add(uint64_t(got), std::memory_order_relaxed);
    }
    // The end of the measured size is not the end of the file when it grew meanwhile.
    if (::fstat(file.Get(), &info) != 0 || uint64_t(info.st_size) != job.size)
        return Failure(index, QUILLON_E_IMAGE_CHANGED,
                       QStringLiteral("Image %1 changed size from %2 to %3 bytes while it was hashed")
                           .arg(job.path, QString::number(job.size), QString::number(qint64(info.st_size))));
    HashOutcome outcome;
    outcome.job = index;
    outcome.ok = true;
    outcome.hash = stream.Digest();
    return outcome;
}

} // namespace quillcheck
