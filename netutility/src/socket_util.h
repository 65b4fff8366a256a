// SPDX-License-Identifier: MIT
// Internal socket helpers of the network utilities (the descriptor guard and
// the bounded wait are the shared ones of namreg/fd_util.h).
#ifndef NAMREG_NETUTILITY_SOCKET_UTIL_H
#define NAMREG_NETUTILITY_SOCKET_UTIL_H

#include <stddef.h>
#include <stdint.h>
#include <unistd.h>

#include <namreg/deadline.h>
#include <namreg/fd_util.h>

namespace namreg {
namespace netutility {

// A UDP socket for one exchange: non-blocking, closed on exec.
int OpenUdpSocket();

// One datagram to UDP port 53 of `server` (network byte order), sent with
// MSG_NOSIGNAL; false when sendto fails.
bool SendToNameServer(int fd, const void *message, size_t length, uint32_t server);

// A message ID from the kernel's random source (getrandom); where that is
// not available, from a generator seeded once with the clock and the pid.
uint16_t RandomMessageId();

// Waits until `deadline` for the name server's answer: only a datagram from
// UDP port 53 of `server` that starts with the two bytes at `id` (any
// datagram, an empty one too, when `id` is null) is taken; anything else is
// dropped and the wait goes on within the same deadline.  Returns the
// answer's length, kNoAnswer when the deadline passed first (or the wait
// failed), -1 when recvfrom failed (errno kept).
constexpr ssize_t kNoAnswer = -2;
ssize_t ReceiveFromNameServer(int fd, uint8_t *message, size_t capacity, uint32_t server,
                              const uint8_t *id, const Deadline &deadline);

}  // namespace netutility
}  // namespace namreg

namespace netutility = namreg::netutility;

#endif  // NAMREG_NETUTILITY_SOCKET_UTIL_H
