// Fast seeded random bytes for sample images; not for anything that needs secrecy.
#pragma once

#include <cstddef>
#include <cstdint>

class Xoshiro256
{
public:
    explicit Xoshiro256(uint64_t seed);

    uint64_t Next();
    // Below bound (bound > 0), without the bias of a plain modulo.
    uint64_t Below(uint64_t bound);
    void Fill(void* data, size_t length);

private:
    uint64_t state[4];
};
