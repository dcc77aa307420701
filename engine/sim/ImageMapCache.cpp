#include "ImageMapCache.h"

#include <QFileInfo>

namespace quillonsim {

ImageMapCache::State& ImageMapCache::Shared()
{
    // Never destroyed: workers the tool detaches at exit may still be downloading.
    static State* state = new State();
    return *state;
}

ImageMap::ImageMap(const QString& path, qint64 size) : file(path), size(size)
{
    if (size > 0 && file.open(QIODevice::ReadOnly))
        data = file.map(0, size);
}

ImageMap::~ImageMap()
{
    if (data != nullptr)
        file.unmap(data);
}

std::shared_ptr<const ImageMap> ImageMapCache::Acquire(const QString& path)
{
    const QFileInfo info(path);
    const Key key{info.absoluteFilePath(), info.size(), info.lastModified().toMSecsSinceEpoch()};
    State& state = Shared();
    std::lock_guard<std::mutex> lock(state.mutex);
    auto& maps = state.maps;
    for (auto it = maps.begin(); it != maps.end();) {
        if (it->second.expired())
            it = maps.erase(it);
        else
            ++it;
    }
    if (std::shared_ptr<const ImageMap> known = maps[key].lock())
        return known;
    auto created = std::make_shared<const ImageMap>(path, info.size());
    if (created->Data() == nullptr) {
        maps.erase(key);
        return nullptr;
    }
    maps[key] = created;
    return created;
}

} // namespace quillonsim
