// The load checksum's hash, XXH3-64 with seed 0 through libxxhash's dispatched entry points, with no Qt, so
// that the checker's hashing helper process starts in a millisecond. Every hashing of a load goes here.
#pragma once

#include <cstddef>
#include <cstdint>

struct XXH3_state_s;

namespace loadformat {

class Xxh3Stream
{
public:
    Xxh3Stream();
    ~Xxh3Stream();
    Xxh3Stream(const Xxh3Stream&) = delete;
    Xxh3Stream& operator=(const Xxh3Stream&) = delete;

    void Reset();
    void Update(const void* data, size_t length);
    uint64_t Digest() const;

    static uint64_t OfBytes(const void* data, size_t length);

private:
    XXH3_state_s* state = nullptr;
};

} // namespace loadformat
