#include "Session.h"

#include "Farm.h"

namespace quillonsim {

namespace {

// A buffer of its own: the session is read and destroyed on other threads than the one that records its
// error, and a shared buffer's reference count would then be released partly inside Qt, out of the race
// detector's sight.
QByteArray PrivateCopy(const QByteArray& text)
{
    return QByteArray(text.constData(), text.size());
}

} // namespace

Session::Session(quint64 id, std::weak_ptr<Farm> farm) : id(id), farm(std::move(farm)) {}

Session::~Session()
{
    // A farm that is already gone took its devices with it.
    if (device.Valid()) {
        if (const std::shared_ptr<Farm> owner = farm.lock())
            owner->Release(device, failed);
    }
}

bool Session::TryBegin()
{
    bool expected = false;
    return busy.compare_exchange_strong(expected, true, std::memory_order_acq_rel);
}

void Session::End()
{
    busy.store(false, std::memory_order_release);
}

void Session::SetError(const QByteArray& text, quint64 sequence)
{
    QByteArray copy = PrivateCopy(text);
    std::lock_guard<std::mutex> lock(errorMutex);
    errorText.swap(copy);
    errorSequence = sequence;
}

void Session::NoteCaller()
{
    std::lock_guard<std::mutex> lock(errorMutex);
    lastCaller = std::this_thread::get_id();
}

void Session::Error(QByteArray& text, quint64& sequence, bool& calledHere) const
{
    std::lock_guard<std::mutex> lock(errorMutex);
    text = PrivateCopy(errorText);
    sequence = errorSequence;
    calledHere = lastCaller == std::this_thread::get_id();
}

void Session::AddDownloaded(const DownloadedImage& image)
{
    for (DownloadedImage& known : downloaded) {
        if (known.file == image.file) {
            known = image;
            return;
        }
    }
    downloaded.push_back(image);
}

} // namespace quillonsim
