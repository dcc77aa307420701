/*
 * Calls that only tests, tools and benchmarks use to choose how the stand-in image checker hashes. The tool
 * never includes this.
 */
#ifndef QUILLCHECK_SIM_H
#define QUILLCHECK_SIM_H

#include "quillon.h"

#ifdef __cplusplus
extern "C" {
#endif

enum QuillcheckHashing
{
    /* The hashing helper mapping every chunk when it is installed beside the library and starts, reads in
     * this process otherwise. */
    QUILLCHECK_HASHING_AUTO = 0,
    /* Reads in blocks on worker threads of the calling process. */
    QUILLCHECK_HASHING_READ = 1,
    /* The hashing helper, mapping or reading each chunk as the file's timings favour; a check fails when the
     * helper is not there. */
    QUILLCHECK_HASHING_HELPER = 2,
    /* The hashing helper, mapping every chunk. */
    QUILLCHECK_HASHING_HELPER_MAP = 3
};

/* Applies to every later verification of the process. threads 0 means one per core. */
QUILLON_API int quillcheck_sim_configure(int hashing, unsigned int threads);

#ifdef __cplusplus
}
#endif

#endif
