// SPDX-License-Identifier: MIT
// Scoped hold of the context's settings semaphore (skipped when the context
// has none).
#ifndef NAMREG_DDNSCLIENT_SETTINGS_LOCK_H
#define NAMREG_DDNSCLIENT_SETTINGS_LOCK_H

#include "ddnsclient_internal.h"

namespace namreg {

class SettingsLock {
 public:
  explicit SettingsLock(DDNSClientContext *context) : semaphore_(context->hSemaphore) {
    if (semaphore_ != nullptr) OSSemaphore_Get(semaphore_, OSAL_WAIT_FOREVER);
  }
  ~SettingsLock() {
    if (semaphore_ != nullptr) OSSemaphore_Post(semaphore_);
  }
  SettingsLock(const SettingsLock &) = delete;
  SettingsLock &operator=(const SettingsLock &) = delete;

 private:
  OSSemaphoreHandle semaphore_;
};

}  // namespace namreg

using namreg::SettingsLock;

#endif  // NAMREG_DDNSCLIENT_SETTINGS_LOCK_H
