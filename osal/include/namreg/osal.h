/* SPDX-License-Identifier: MIT */
/*
 * osal: the small platform layer the libraries stand on (counting semaphore,
 * per-thread key, timer words), built on POSIX threads and clocks.
 */
#ifndef NAMREG_OSAL_H
#define NAMREG_OSAL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct OSSemaphoreObject *OSSemaphoreHandle;
typedef struct OSThreadKeyObject *OSThreadKeyHandle;

#define OSAL_WAIT_FOREVER (-1)

/* Creates a counting semaphore holding `initial` units, never more than
 * `maximum` (1 and 1 make a binary semaphore).  0 on success, -1 otherwise
 * (*handle is then null). */
int OSSemaphore_Initial(OSSemaphoreHandle *handle, uint32_t initial, uint32_t maximum);
/* Takes one unit, waiting at most timeout_ms milliseconds (OSAL_WAIT_FOREVER:
 * without limit; 0: only tries).  0 when taken, -1 on time-out or error. */
int OSSemaphore_Get(OSSemaphoreHandle handle, int32_t timeout_ms);
/* Gives one unit back.  0, or -1 when the semaphore already holds its
 * maximum (the count does not grow past it). */
int OSSemaphore_Post(OSSemaphoreHandle handle);
/* Frees the semaphore and sets *handle to null; a null handle is accepted. */
int OSSemaphore_Release(OSSemaphoreHandle *handle);

/* Creates a per-thread key (*handle null on failure); 0 or -1. */
int OSThread_KeyCreate(OSThreadKeyHandle *handle);
/* Frees the key and sets *handle to null; a null handle is accepted. */
int OSThread_Release(OSThreadKeyHandle *handle);

/* Two 32-bit words of a monotonic timer: whole seconds and microseconds. */
int OSTime_GetTimer(uint32_t *seconds, uint32_t *microseconds);

#ifdef __cplusplus
}
#endif

#endif /* NAMREG_OSAL_H */
