#pragma once

// Plain integers on purpose: records carry the level as a 32-bit int, and thresholds compare with it.
namespace LogLevel {
enum : int
{
    V = 0,
    D = 1,
    I = 2,
    W = 3,
    E = 4,
    OFF = 5
};
}
