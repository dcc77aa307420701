/*
 * Calls that only tests and tools use to set up the simulated device farm. The tool never includes this.
 */
#ifndef QUILLON_SIM_H
#define QUILLON_SIM_H

#include "quillon.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Replaces the farm description at run time; null restores the built-in defaults. A bad file makes this
 * call and every later engine call fail, with a last error naming the file, the key and the value. */
QUILLON_API int quillon_sim_configure(const char* iniPath);

#ifdef __cplusplus
}
#endif

#endif
