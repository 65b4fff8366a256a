// SPDX-License-Identifier: MIT
// Socket and clock helpers shared by the resolver, DNS UPDATE, the
// connectivity test and the HTTP client.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "namreg/common.h"
#include "namreg/tick_clock.h"
#include "namreg/netutility.h"
#include "dns_wire.h"
#include "socket_util.h"

namespace namreg {
namespace netutility {

int OpenUdpSocket() {
  return socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

bool SendToNameServer(int fd, const void *message, size_t length, uint32_t server) {
  struct sockaddr_in to;
  memset(&to, 0, sizeof(to));
  to.sin_family = AF_INET;
  to.sin_port = htons(kDnsPort);
  to.sin_addr.s_addr = server;
  return sendto(fd, message, length, MSG_NOSIGNAL, reinterpret_cast<const struct sockaddr *>(&to),
                sizeof(to)) >= 0;
}

uint16_t RandomMessageId() {
  uint16_t id = 0;
  long got = -1;
#ifdef SYS_getrandom
  // Through the system call itself: small C libraries may lack the wrapper.
  constexpr unsigned kNonBlocking = 0x0001;  // GRND_NONBLOCK
  do {
    got = syscall(SYS_getrandom, &id, sizeof(id), kNonBlocking);
  } while (got < 0 && errno == EINTR);
#endif
  if (got == static_cast<long>(sizeof(id))) return id;
  // No kernel source (old kernel, or its pool not ready yet at boot): a
  // generator seeded once from the clock and the process.
  static std::atomic<bool> seeded(false);
  if (!seeded.exchange(true)) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    srandom(static_cast<unsigned>(now.tv_nsec) ^ static_cast<unsigned>(now.tv_sec) ^
            (static_cast<unsigned>(getpid()) << 16));
  }
  return static_cast<uint16_t>(random() & 0xFFFF);
}

ssize_t ReceiveFromNameServer(int fd, uint8_t *message, size_t capacity, uint32_t server,
                              const uint8_t *id, const Deadline &deadline) {
  for (;;) {
    if (fdutil::WaitOne(fd, false, deadline) != 1) return kNoAnswer;
    struct sockaddr_in from;
    memset(&from, 0, sizeof(from));
    socklen_t from_length = sizeof(from);
    const ssize_t got = recvfrom(fd, message, capacity, MSG_NOSIGNAL,
                                 reinterpret_cast<struct sockaddr *>(&from), &from_length);
    if (got < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      return -1;
    }
    const bool from_server = from_length >= sizeof(from) && from.sin_family == AF_INET &&
                             from.sin_addr.s_addr == server && from.sin_port == htons(kDnsPort);
    if (!from_server) continue;
    if (id != nullptr && (got < 2 || memcmp(message, id, 2) != 0)) continue;
    return got;
  }
}

}  // namespace netutility
}  // namespace namreg

extern "C" {

int NetUtility_SetNonBlocking(int socket_fd) {
  if (socket_fd == -1) return -1;
  const int flags = fcntl(socket_fd, F_GETFL, 0);
  if (flags == -1) return -1;
  if (fcntl(socket_fd, F_SETFL, flags | O_NONBLOCK) == -1) return -1;
  return 0;
}

int NetUtility_CloseSocket(int *socket_fd) {
  if (socket_fd == nullptr || *socket_fd == -1) return -1;
  close(*socket_fd);
  *socket_fd = -1;
  return 0;
}

int NetUtility_CloseSockets(int *sockets, int count) {
  if (sockets == nullptr || count <= 0) return -1;
  for (int i = 0; i < count; ++i) NetUtility_CloseSocket(&sockets[i]);
  return 0;
}

int NetUtility_SetReuseAddr(int socket_fd) {
  if (socket_fd == -1) return -1;
  const int on = 1;
  if (setsockopt(socket_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0) return -1;
  return 0;
}

uint32_t NetUtility_GetTickMs(void) {
  return namreg::TickClock_GetMs();
}

int NetUtility_IsTimeout(uint32_t start_ms, uint32_t seconds, uint32_t *elapsed_seconds) {
  return namreg::TickClock_IsTimeout(start_ms, seconds, elapsed_seconds);
}

}  // extern "C"
