// Socket and clock helpers shared by the resolver, DNS UPDATE, the
// connectivity test and the HTTP client.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <string.h>
#include <unistd.h>

#include "namreg/common.h"
#include "namreg/netutility.h"
#include "dns_wire.h"
#include "socket_util.h"

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

}  // namespace netutility

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
  return TickClock_GetMs();
}

int NetUtility_IsTimeout(uint32_t start_ms, uint32_t seconds, uint32_t *elapsed_seconds) {
  return TickClock_IsTimeout(start_ms, seconds, elapsed_seconds);
}

}  // extern "C"
