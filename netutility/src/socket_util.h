// Internal socket helpers of the network utilities: a descriptor guard that
// closes on every path, and the one bounded wait of the UDP exchanges.
#ifndef NAMREG_NETUTILITY_SOCKET_UTIL_H
#define NAMREG_NETUTILITY_SOCKET_UTIL_H

#include <stddef.h>
#include <stdint.h>
#include <unistd.h>

namespace netutility {

class SocketGuard {
 public:
  explicit SocketGuard(int fd) : fd_(fd) {}
  ~SocketGuard() { Close(); }
  SocketGuard(const SocketGuard &) = delete;
  SocketGuard &operator=(const SocketGuard &) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) {
      close(fd_);
      fd_ = -1;
    }
  }

 private:
  int fd_;
};

// A UDP socket for one exchange: non-blocking, closed on exec.
int OpenUdpSocket();

// One datagram to UDP port 53 of `server` (network byte order), sent with
// MSG_NOSIGNAL; false when sendto fails.
bool SendToNameServer(int fd, const void *message, size_t length, uint32_t server);

// One select for readability of `fd` lasting `seconds`.  True when the
// socket is readable; false on time-out, on error, and for a descriptor
// select cannot watch (FD_SETSIZE and above).
bool WaitReadable(int fd, uint32_t seconds);

}  // namespace netutility

#endif  // NAMREG_NETUTILITY_SOCKET_UTIL_H
