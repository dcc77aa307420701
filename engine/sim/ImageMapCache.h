// Read-only mappings of whole image files, shared by every session that downloads the same file at the same
// time: sixteen sessions mapping one cached file each would spend more time faulting pages in than hashing.
#pragma once

#include <QDateTime>
#include <QFile>
#include <QString>

#include <map>
#include <memory>
#include <mutex>
#include <tuple>

namespace quillonsim {

class ImageMap
{
public:
    ImageMap(const QString& path, qint64 size);
    ~ImageMap();
    ImageMap(const ImageMap&) = delete;
    ImageMap& operator=(const ImageMap&) = delete;

    const uchar* Data() const { return data; }
    qint64 Size() const { return size; }

private:
    QFile file;
    uchar* data = nullptr;
    qint64 size = 0;
};

class ImageMapCache
{
public:
    // The mapping of the file as it is now, or null when it cannot be mapped (the caller then reads it).
    static std::shared_ptr<const ImageMap> Acquire(const QString& path);

private:
    // A file rewritten in place gets a mapping of its own.
    using Key = std::tuple<QString, qint64, qint64>;
    struct State
    {
        std::mutex mutex;
        std::map<Key, std::weak_ptr<const ImageMap>> maps;
    };
    static State& Shared();
};

} // namespace quillonsim
