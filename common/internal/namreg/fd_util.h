// SPDX-License-Identifier: MIT
// Descriptor helpers shared by the libraries' C++ sources (not installed):
// a guard that closes a socket on every way out, and the one bounded
// select() on a single descriptor that every exchange waits with.
#ifndef NAMREG_INTERNAL_FD_UTIL_H
#define NAMREG_INTERNAL_FD_UTIL_H

#include <errno.h>
#include <stdint.h>
#include <sys/select.h>
#include <sys/time.h>
#include <unistd.h>

#include "namreg/clock.h"
#include "namreg/deadline.h"

namespace namreg {
namespace fdutil {

class SocketGuard {
 public:
  explicit SocketGuard(int descriptor = -1) : fd(descriptor) {}
  ~SocketGuard() { Close(); }
  SocketGuard(const SocketGuard &) = delete;
  SocketGuard &operator=(const SocketGuard &) = delete;
  int get() const { return fd; }
  bool valid() const { return fd >= 0; }
  void Close() {
    if (fd >= 0) {
      close(fd);
      fd = -1;
    }
  }
  // Public so that primitives which create or close the socket in place can
  // be handed its address.
  int fd;
};

// Waits at most `asked` milliseconds for `fd` to become readable or
// (for_write) writable.  1 ready, 0 time-out, -1 select failed or a descriptor select
// cannot watch (FD_SETSIZE and above: FD_SET would write past the set).
// The wait is one of the clock's (a test clock may shorten it).
inline int WaitOneMs(int fd, bool for_write, uint64_t asked) {
  if (fd < 0 || fd >= FD_SETSIZE) return -1;
  struct timeval wait = MsToTimeval(ClockBeginWait(asked));
  fd_set set;
  FD_ZERO(&set);
  FD_SET(fd, &set);
  int n;
  do {
    n = select(fd + 1, for_write ? nullptr : &set, for_write ? &set : nullptr, nullptr, &wait);
  } while (n < 0 && errno == EINTR);  // Linux leaves the time still to wait in wait
  ClockEndWait(asked, n == 0);
  if (n < 0) return -1;
  return n > 0 && FD_ISSET(fd, &set) ? 1 : 0;
}

inline int WaitOne(int fd, bool for_write, struct timeval limit) {
  return WaitOneMs(fd, for_write, TimevalToMs(limit));
}

inline int WaitOne(int fd, bool for_write, uint32_t seconds) {
  return WaitOneMs(fd, for_write, uint64_t{seconds} * 1000u);
}

// Waits at most until `deadline`; 0 at once when it has passed.
inline int WaitOne(int fd, bool for_write, const Deadline &deadline) {
  const uint64_t left = deadline.LeftMs();
  if (left == 0) return fd < 0 || fd >= FD_SETSIZE ? -1 : 0;
  return WaitOneMs(fd, for_write, left);
}

}  // namespace fdutil
}  // namespace namreg

// The short name the libraries' sources use.
namespace fdutil = namreg::fdutil;

#endif  // NAMREG_INTERNAL_FD_UTIL_H
