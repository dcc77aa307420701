#include "LoadFormat.h"
#include "Xxh3Stream.h"

#include <QFile>
#include <QFileInfo>

#include <vector>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#endif

namespace loadformat {

struct LoadChecksum::State
{
    Xxh3Stream stream;
};

QString ChecksumText(uint64_t hash)
{
    return QStringLiteral("%1").arg(qulonglong(hash), 16, 16, QLatin1Char('0'));
}

LoadChecksum::LoadChecksum() : state(std::make_unique<State>()) {}

LoadChecksum::~LoadChecksum() = default;

void LoadChecksum::Update(const void* data, size_t length)
{
    state->stream.Update(data, length);
}

uint64_t LoadChecksum::Value() const
{
    return state->stream.Digest();
}

QString LoadChecksum::Text() const
{
    return ChecksumText(Value());
}

QString LoadChecksum::OfBytes(const void* data, size_t length)
{
    return ChecksumText(Xxh3Stream::OfBytes(data, length));
}

bool LoadChecksum::OfFile(const QString& path, QString& text, QString& error)
{
    // Opening a named pipe would block until someone writes to it, and a device has no end.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        error = QStringLiteral("%1: not a regular file").arg(path);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
#ifdef Q_OS_UNIX
    posix_fadvise(file.handle(), 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    LoadChecksum sum;
    std::vector<char> block(static_cast<size_t>(kFileHashBlock));
    for (;;) {
        const qint64 got = file.read(block.data(), kFileHashBlock);
        if (got < 0) {
            error = QStringLiteral("%1: %2").arg(path, file.errorString());
            return false;
        }
        if (got == 0)
            break;
        sum.Update(block.data(), size_t(got));
    }
    text = sum.Text();
    return true;
}

} // namespace loadformat
