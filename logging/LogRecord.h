#pragma once

#include <cstdint>

// Filled at the call site: level, "Class::Function", a source tag such as "Common\\DeviceInstance", line.
struct LogRecord
{
    int32_t level;
    const char* function;
    const char* file;
    int32_t line;
};
