#include "Xxh3Stream.h"

#include <xxh_x86dispatch.h>
#include <xxhash.h>

#include <new>

namespace loadformat {

Xxh3Stream::Xxh3Stream() : state(XXH3_createState())
{
    if (state == nullptr)
        throw std::bad_alloc();
    XXH3_64bits_reset(state);
}

Xxh3Stream::~Xxh3Stream()
{
    XXH3_freeState(state);
}

void Xxh3Stream::Reset()
{
    XXH3_64bits_reset(state);
}

void Xxh3Stream::Update(const void* data, size_t length)
{
    if (length == 0)
        return;
    XXH3_64bits_update_dispatch(state, data, length);
}

uint64_t Xxh3Stream::Digest() const
{
    return XXH3_64bits_digest(state);
}

uint64_t Xxh3Stream::OfBytes(const void* data, size_t length)
{
    // One-shot hashing of an empty buffer must not depend on the pointer, which may be null.
    static const char empty = 0;
    return XXH3_64bits_dispatch(length == 0 ? &empty : data, length);
}

} // namespace loadformat
