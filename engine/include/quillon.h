/*
 * The flash engine and image checker as the tool sees them: plain C, UTF-8 strings, integer results.
 * A vendor's real libraries can replace the stand-ins behind this header without touching the tool.
 */
#ifndef QUILLON_H
#define QUILLON_H

#include <stdint.h>

#if defined(_WIN32) && defined(QUILLON_BUILDING)
#define QUILLON_API __declspec(dllexport)
#elif defined(_WIN32)
#define QUILLON_API __declspec(dllimport)
#elif defined(__GNUC__)
#define QUILLON_API __attribute__((visibility("default")))
#else
#define QUILLON_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results. 0 is success; -2 means a scan abandoned by its stop query, or, from the checker, a load
 * without its checksum list. Every other value is a failure whose text quillon_get_last_error_msg gives
 * (for the checker, quillon_images_checker_last_error_msg).
 *
 * The checker's failures: QUILLON_E_INVALID_ARGUMENT a scatter path that is null, empty, not absolute or too
 * long; QUILLON_E_CHECKSUM_LIST_INVALID a checksum list that is not well-formed or is refused as hostile XML,
 * has a malformed entry, names an image twice or names none; QUILLON_E_SCATTER_INVALID a scatter file that
 * is missing, unreadable or malformed (including an image name with a folder part); QUILLON_E_IMAGE_UNLISTED
 * an image the scatter file downloads but the list does not name, which would be flashed unverified;
 * QUILLON_E_IMAGE_MISSING a listed image that does not exist; QUILLON_E_IMAGE_UNREADABLE one that is not a
 * regular file or cannot be opened or read; QUILLON_E_IMAGE_CHANGED one whose size changed while it was
 * hashed; QUILLON_E_CHECKSUM_MISMATCH one whose checksum differs from the list; QUILLON_E_CANCELLED a check
 * ended by its stop query; QUILLON_E_FAILED a check that could not run at all (no thread, no memory). */
enum QuillonResult
{
    QUILLON_OK = 0,
    QUILLON_E_FAILED = -1,
    QUILLON_E_STOPPED = -2,
    QUILLON_E_CHECKSUM_LIST_MISSING = -2,
    QUILLON_E_INVALID_ARGUMENT = -3,
    QUILLON_E_NOT_STARTED = -4,
    QUILLON_E_INVALID_HANDLE = -5,
    QUILLON_E_TIMEOUT = -6,
    QUILLON_E_DEVICE_BUSY = -7,
    QUILLON_E_SEQUENCE = -8,
    QUILLON_E_UNSUPPORTED = -9,
    QUILLON_E_IO = -10,
    QUILLON_E_DEVICE = -11,
    QUILLON_E_CANCELLED = -12,
    QUILLON_E_AUTH = -13,
    QUILLON_E_CHECKSUM_MISMATCH = -14,
    QUILLON_E_CHECKSUM_LIST_INVALID = -15,
    QUILLON_E_SCATTER_INVALID = -16,
    QUILLON_E_IMAGE_UNLISTED = -17,
    QUILLON_E_IMAGE_MISSING = -18,
    QUILLON_E_IMAGE_UNREADABLE = -19,
    QUILLON_E_IMAGE_CHANGED = -20
};

enum QuillonLogMode
{
    QUILLON_LOG_ON = 1,
    QUILLON_LOG_OFF = 6
};

typedef struct QuillonSession QuillonSession;

/* Non-zero asks the engine to abandon the call in progress. */
typedef int (*QuillonStopQuery)(void* user);
/* Called on the thread that made the engine call, never under an engine lock. */
typedef void (*QuillonProgress)(void* user, unsigned int percent, uint64_t transferred, const char* text);

/* The authentication library's functions, resolved by name from "SLA_Challenge". The response memory
 * belongs to the library and stays valid until the matching _END call. */
typedef int (*SLA_Challenge_Fn)(void* user, const uint8_t* challenge, uint32_t challengeLength,
                                uint8_t** response, uint32_t* responseLength);
typedef int (*SLA_Challenge_END_Fn)(void* user, uint8_t* response);
typedef int (*SLA_Feature_Config_Fn)(void);
typedef int (*DA_SLA_Challenge_Fn)(void* user, const uint8_t* data, uint32_t dataLength, uint8_t** response,
                                   uint32_t* responseLength);
typedef int (*DA_SLA_Challenge_END_Fn)(void* user, uint8_t* response);

/* Records are passed by pointer (null allowed) and copied at each call. */
typedef struct ScanCallbacks
{
    void* user;
    QuillonStopQuery stop;
} ScanCallbacks;

typedef struct OperationCallbacks
{
    void* user;
    QuillonStopQuery stop;
    QuillonProgress progress;
    SLA_Challenge_Fn slaChallenge;
    SLA_Challenge_END_Fn slaChallengeEnd;
    void* reserved1;
    void* reserved2;
} OperationCallbacks;

typedef struct CheckerCallbacks
{
    void* user;
    QuillonStopQuery stop;
    QuillonProgress progress;
} CheckerCallbacks;

QUILLON_API int quillon_startup(void* reserved);
QUILLON_API int quillon_cleanup(void);
QUILLON_API int quillon_env_set_log(int mode, const char* folder);

QUILLON_API QuillonSession* quillon_create_session(void);
QUILLON_API int quillon_destroy_session(QuillonSession* session);

/* uri: "COM://" (any port), "COM://COMn" or "COM://<text of the device description>". On success
 * out holds the zero-terminated port description. timeoutMs is real time, never scaled. */
QUILLON_API int quillon_scan_device(const char* uri, char* out, unsigned int outLength, unsigned int timeoutMs,
                                    const ScanCallbacks* callbacks);
QUILLON_API int quillon_connect_device(QuillonSession* session, const char* portDescription, const char* baud,
                                       const char* authFile, const char* certFile,
                                       const OperationCallbacks* callbacks);
QUILLON_API int quillon_enter_mode(QuillonSession* session, const char* mode, const char* flashXml,
                                   const char* modeSetting, const OperationCallbacks* callbacks);
QUILLON_API int quillon_execute_command(QuillonSession* session, const char* command,
                                        const OperationCallbacks* callbacks);

/* The latest failure of session, or of the calling thread when session is null or the call took no
 * handle. The text stays valid on this thread until its next engine call; copy it at once. */
QUILLON_API const char* quillon_get_last_error_msg(QuillonSession* session);

/* The image checker (library quillcheck): verifies every image of the load against the checksum list
 * "scatter_checksum.xml" beside the scatter file. Progress and the stop query are called on the calling
 * thread before the call returns; progress reaches 100 once, when every image has been hashed. */
QUILLON_API int quillon_images_checker_verify(const char* scatterPath, const CheckerCallbacks* callbacks);
/* Why the calling thread's latest verification failed; empty after a success. The text stays valid on this
 * thread until its next checker call; copy it at once. */
QUILLON_API const char* quillon_images_checker_last_error_msg(void);

#ifdef __cplusplus
}
#endif

#endif
