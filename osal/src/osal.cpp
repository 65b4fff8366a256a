// SPDX-License-Identifier: MIT
// Platform layer on POSIX: counting semaphore with a maximum, per-thread key,
// monotonic timer words.
#include "namreg/osal.h"

#include <errno.h>
#include <pthread.h>
#include <stdlib.h>
#include <time.h>

struct OSSemaphoreObject {
  pthread_mutex_t mutex;
  pthread_cond_t cond;
  uint32_t count;
  uint32_t maximum;
};

struct OSThreadKeyObject {
  pthread_key_t key;
};

namespace {

// Absolute CLOCK_MONOTONIC deadline timeout_ms from now.
timespec DeadlineAfter(int32_t timeout_ms) {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  ts.tv_sec += timeout_ms / 1000;
  ts.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
  if (ts.tv_nsec >= 1000000000L) {
    ts.tv_sec += 1;
    ts.tv_nsec -= 1000000000L;
  }
  return ts;
}

// Unlocks the semaphore's mutex on every path out of a scope.
class Locked {
 public:
  explicit Locked(pthread_mutex_t *m) : m_(m) { pthread_mutex_lock(m_); }
  ~Locked() { pthread_mutex_unlock(m_); }
  Locked(const Locked &) = delete;
  Locked &operator=(const Locked &) = delete;

 private:
  pthread_mutex_t *m_;
};

}  // namespace

extern "C" int OSSemaphore_Initial(OSSemaphoreHandle *handle, uint32_t initial, uint32_t maximum) {
  if (!handle) return -1;
  *handle = nullptr;
  if (maximum == 0 || initial > maximum) return -1;
  OSSemaphoreObject *s = static_cast<OSSemaphoreObject *>(calloc(1, sizeof(OSSemaphoreObject)));
  if (!s) return -1;
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  const bool ok = pthread_mutex_init(&s->mutex, nullptr) == 0;
  const bool cond_ok = ok && pthread_cond_init(&s->cond, &attr) == 0;
  pthread_condattr_destroy(&attr);
  if (!cond_ok) {
    if (ok) pthread_mutex_destroy(&s->mutex);
    free(s);
    return -1;
  }
  s->count = initial;
  s->maximum = maximum;
  *handle = s;
  return 0;
}

extern "C" int OSSemaphore_Get(OSSemaphoreHandle s, int32_t timeout_ms) {
  if (!s) return -1;
  Locked lock(&s->mutex);
  if (timeout_ms < 0) {
    while (s->count == 0) pthread_cond_wait(&s->cond, &s->mutex);
  } else {
    const timespec deadline = DeadlineAfter(timeout_ms);
    while (s->count == 0) {
      if (pthread_cond_timedwait(&s->cond, &s->mutex, &deadline) == ETIMEDOUT && s->count == 0)
        return -1;
    }
  }
  --s->count;
  return 0;
}

extern "C" int OSSemaphore_Post(OSSemaphoreHandle s) {
  if (!s) return -1;
  Locked lock(&s->mutex);
  if (s->count >= s->maximum) return -1;
  ++s->count;
  pthread_cond_signal(&s->cond);
  return 0;
}

extern "C" int OSSemaphore_Release(OSSemaphoreHandle *handle) {
  if (!handle || !*handle) return 0;
  OSSemaphoreObject *s = *handle;
  pthread_cond_destroy(&s->cond);
  pthread_mutex_destroy(&s->mutex);
  free(s);
  *handle = nullptr;
  return 0;
}

extern "C" int OSThread_KeyCreate(OSThreadKeyHandle *handle) {
  if (!handle) return -1;
  *handle = nullptr;
  OSThreadKeyObject *k = static_cast<OSThreadKeyObject *>(calloc(1, sizeof(OSThreadKeyObject)));
  if (!k) return -1;
  if (pthread_key_create(&k->key, nullptr) != 0) {
    free(k);
    return -1;
  }
  *handle = k;
  return 0;
}

extern "C" int OSThread_Release(OSThreadKeyHandle *handle) {
  if (!handle || !*handle) return 0;
  pthread_key_delete((*handle)->key);
  free(*handle);
  *handle = nullptr;
  return 0;
}

extern "C" int OSTime_GetTimer(uint32_t *seconds, uint32_t *microseconds) {
  if (!seconds || !microseconds) return -1;
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  *seconds = static_cast<uint32_t>(ts.tv_sec);
  *microseconds = static_cast<uint32_t>(ts.tv_nsec / 1000);
  return 0;
}
