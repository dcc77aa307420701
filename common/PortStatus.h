#pragma once

#include <cstdint>

// A port's status code as the device session stores it and the port table shows it.
namespace PortStatus {

enum Code : int32_t
{
    UND = 0,
    INIT = 1,
    RUN = 2,
    OK = 3,
    FAIL = 4,
    CANL = 5
};

} // namespace PortStatus
