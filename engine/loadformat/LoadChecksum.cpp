#include "LoadFormat.h"

#include <QFile>

#include <xxh_x86dispatch.h>
#include <xxhash.h>

#include <algorithm>
#include <vector>

#ifdef Q_OS_UNIX
#include <sys/mman.h>
#endif

namespace loadformat {

namespace {

constexpr qint64 kReadBlock = qint64(4) * 1024 * 1024;

} // namespace

struct LoadChecksum::State
{
    XXH3_state_t* xxh = nullptr;
};

QString ChecksumText(uint64_t hash)
{
    return QStringLiteral("%1").arg(qulonglong(hash), 16, 16, QLatin1Char('0'));
}

LoadChecksum::LoadChecksum() : state(std::make_unique<State>())
{
    state->xxh = XXH3_createState();
    if (state->xxh == nullptr)
        throw std::bad_alloc();
    XXH3_64bits_reset(state->xxh);
}

LoadChecksum::~LoadChecksum()
{
    XXH3_freeState(state->xxh);
}

void LoadChecksum::Update(const void* data, size_t length)
{
    if (length == 0)
        return;
    XXH3_64bits_update_dispatch(state->xxh, data, length);
}

uint64_t LoadChecksum::Value() const
{
    return XXH3_64bits_digest(state->xxh);
}

QString LoadChecksum::Text() const
{
    return ChecksumText(Value());
}

QString LoadChecksum::OfBytes(const void* data, size_t length)
{
    // One-shot hashing of an empty buffer must not depend on the pointer, which may be null.
    static const char empty = 0;
    return ChecksumText(XXH3_64bits_dispatch(length == 0 ? &empty : data, length));
}

bool LoadChecksum::OfFile(const QString& path, QString& text, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    LoadChecksum sum;
    const qint64 size = file.size();
    qint64 done = 0;
    bool mapped = size > 0;
    while (mapped && done < size) {
        const qint64 length = std::min(kFileHashWindow, size - done);
        uchar* view = file.map(done, length);
        if (view == nullptr) {
            mapped = false;
            break;
        }
#ifdef Q_OS_UNIX
        posix_madvise(view, size_t(length), POSIX_MADV_SEQUENTIAL);
#endif
        sum.Update(view, size_t(length));
        file.unmap(view);
        done += length;
    }
    if (!mapped) {
        // Files that cannot be mapped (pipes, some network shares) are read in large blocks from
        // where the mapping stopped.
        if (!file.seek(done)) {
            error = QStringLiteral("%1: %2").arg(path, file.errorString());
            return false;
        }
        std::vector<char> block(static_cast<size_t>(kReadBlock));
        for (;;) {
            const qint64 got = file.read(block.data(), kReadBlock);
            if (got < 0) {
                error = QStringLiteral("%1: %2").arg(path, file.errorString());
                return false;
            }
            if (got == 0)
                break;
            sum.Update(block.data(), size_t(got));
        }
    }
    text = sum.Text();
    return true;
}

} // namespace loadformat
