// The caller's stop query, together with the engine's own reasons to abandon a call.
#pragma once

#include "quillon.h"

#include <atomic>

namespace quillonsim {

class StopQuery
{
public:
    StopQuery() = default;
    StopQuery(QuillonStopQuery query, void* user, const std::atomic<bool>* abandoned = nullptr)
        : query(query), user(user), abandoned(abandoned)
    {
    }

    // Calls the caller's query; the engine never holds a lock here.
    bool Requested() const
    {
        if (abandoned != nullptr && abandoned->load(std::memory_order_acquire))
            return true;
        return query != nullptr && query(user) != 0;
    }

private:
    QuillonStopQuery query = nullptr;
    void* user = nullptr;
    const std::atomic<bool>* abandoned = nullptr;
};

} // namespace quillonsim
