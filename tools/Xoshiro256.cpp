#include "Xoshiro256.h"

#include <cstring>

namespace {

uint64_t SplitMix64(uint64_t& x)
{
    uint64_t z = (x += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

uint64_t RotateLeft(uint64_t x, int k)
{
    return (x << k) | (x >> (64 - k));
}

} // namespace

Xoshiro256::Xoshiro256(uint64_t seed)
{
    // Seeding through splitmix64 keeps the state away from all zeros for every seed, zero included.
    for (uint64_t& word : state)
        word = SplitMix64(seed);
}

uint64_t Xoshiro256::Next()
{
    const uint64_t result = RotateLeft(state[1] * 5, 7) * 9;
    const uint64_t t = state[1] << 17;
    state[2] ^= state[0];
    state[3] ^= state[1];
    state[1] ^= state[2];
    state[0] ^= state[3];
    state[2] ^= t;
    state[3] = RotateLeft(state[3], 45);
    return result;
}

uint64_t Xoshiro256::Below(uint64_t bound)
{
    const uint64_t limit = UINT64_MAX - UINT64_MAX % bound;
    for (;;) {
        const uint64_t value = Next();
        if (value < limit)
            return value % bound;
    }
}

void Xoshiro256::Fill(void* data, size_t length)
{
    auto* out = static_cast<unsigned char*>(data);
    while (length >= sizeof(uint64_t)) {
        const uint64_t value = Next();
        std::memcpy(out, &value, sizeof value);
        out += sizeof value;
        length -= sizeof value;
    }
    if (length > 0) {
        const uint64_t value = Next();
        std::memcpy(out, &value, length);
    }
}
