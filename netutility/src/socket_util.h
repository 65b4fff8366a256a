// Internal socket helpers of the network utilities (the descriptor guard and
// the bounded wait are the shared ones of namreg/fd_util.h).
#ifndef NAMREG_NETUTILITY_SOCKET_UTIL_H
#define NAMREG_NETUTILITY_SOCKET_UTIL_H

#include <stddef.h>
#include <stdint.h>
#include <unistd.h>

#include <namreg/fd_util.h>

namespace netutility {

// A UDP socket for one exchange: non-blocking, closed on exec.
int OpenUdpSocket();

// One datagram to UDP port 53 of `server` (network byte order), sent with
// MSG_NOSIGNAL; false when sendto fails.
bool SendToNameServer(int fd, const void *message, size_t length, uint32_t server);

}  // namespace netutility

#endif  // NAMREG_NETUTILITY_SOCKET_UTIL_H
