// The engine's own list of live sessions. Handles are numbers that are never reused, so a stale or foreign
// handle is recognised instead of being dereferenced.
#pragma once

#include "quillon.h"

#include <QtGlobal>

#include <map>
#include <memory>
#include <mutex>

namespace quillonsim {

class Session;

class SessionRegistry
{
public:
    static constexpr size_t kMaxSessions = 1024;

    ~SessionRegistry();

    QuillonSession* Add(const std::shared_ptr<Session>& session);
    std::shared_ptr<Session> Find(QuillonSession* handle) const;
    std::shared_ptr<Session> Remove(QuillonSession* handle);

    static quint64 NextId();
    static QuillonSession* HandleOf(quint64 id);
    static quint64 IdOf(QuillonSession* handle);

private:
    mutable std::mutex mutex;
    std::map<quint64, std::shared_ptr<Session>> sessions;
};

} // namespace quillonsim
