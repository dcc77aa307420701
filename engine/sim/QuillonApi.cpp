// Entry points of the simulated flash engine; every call is routed to the farm.
#include "quillon.h"
#include "quillon_sim.h"

namespace {

thread_local const char* lastError = "";

int NotImplemented()
{
    lastError = "not implemented";
    return QUILLON_E_FAILED;
}

} // namespace

extern "C" {

QUILLON_API int quillon_startup(void*)
{
    return NotImplemented();
}

QUILLON_API int quillon_cleanup(void)
{
    return NotImplemented();
}

QUILLON_API int quillon_env_set_log(int, const char*)
{
    return NotImplemented();
}

QUILLON_API QuillonSession* quillon_create_session(void)
{
    NotImplemented();
    return nullptr;
}

QUILLON_API int quillon_destroy_session(QuillonSession*)
{
    return NotImplemented();
}

QUILLON_API int quillon_scan_device(const char*, char*, unsigned int, unsigned int, const ScanCallbacks*)
{
    return NotImplemented();
}

QUILLON_API int quillon_connect_device(QuillonSession*, const char*, const char*, const char*, const char*,
                                       const OperationCallbacks*)
{
    return NotImplemented();
}

QUILLON_API int quillon_enter_mode(QuillonSession*, const char*, const char*, const char*,
                                   const OperationCallbacks*)
{
    return NotImplemented();
}

QUILLON_API int quillon_execute_command(QuillonSession*, const char*, const OperationCallbacks*)
{
    return NotImplemented();
}

QUILLON_API const char* quillon_get_last_error_msg(QuillonSession*)
{
    return lastError;
}

QUILLON_API int quillon_sim_configure(const char*)
{
    return NotImplemented();
}
}
