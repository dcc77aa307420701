#include "SessionRegistry.h"

#include "Session.h"

#include <atomic>

namespace quillonsim {

namespace {

constexpr quintptr kHandleTag = 0x8;

std::atomic<quint64> lastId{0};

} // namespace

SessionRegistry::~SessionRegistry()
{
    // Sessions are destroyed outside the lock, since a session's destructor may reach back into the farm.
    std::map<quint64, std::shared_ptr<Session>> doomed;
    {
        std::lock_guard<std::mutex> lock(mutex);
        doomed.swap(sessions);
    }
}

quint64 SessionRegistry::NextId()
{
    return lastId.fetch_add(1, std::memory_order_relaxed) + 1;
}

QuillonSession* SessionRegistry::HandleOf(quint64 id)
{
    return reinterpret_cast<QuillonSession*>((quintptr(id) << 4) | kHandleTag);
}

quint64 SessionRegistry::IdOf(QuillonSession* handle)
{
    const quintptr value = reinterpret_cast<quintptr>(handle);
    if ((value & 0xf) != kHandleTag)
        return 0;
    return quint64(value >> 4);
}

QuillonSession* SessionRegistry::Add(const std::shared_ptr<Session>& session)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (sessions.size() >= kMaxSessions)
        return nullptr;
    sessions.emplace(session->Id(), session);
    return HandleOf(session->Id());
}

std::shared_ptr<Session> SessionRegistry::Find(QuillonSession* handle) const
{
    const quint64 id = IdOf(handle);
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = sessions.find(id);
    return found == sessions.end() ? nullptr : found->second;
}

std::shared_ptr<Session> SessionRegistry::Remove(QuillonSession* handle)
{
    const quint64 id = IdOf(handle);
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = sessions.find(id);
    if (found == sessions.end())
        return nullptr;
    std::shared_ptr<Session> session = std::move(found->second);
    sessions.erase(found);
    return session;
}

} // namespace quillonsim
