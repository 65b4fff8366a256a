// SPDX-License-Identifier: MIT
// syslog-tap: binds a Unix datagram socket (default /dev/log) and prints each
// syslog message it receives as "priority N: <rest>", one per line, until it
// is killed.  Prints "ready" once the socket is bound.  For the demo, where no
// syslog daemon runs inside the private namespace.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char **argv) {
  const char *path = argc > 1 ? argv[1] : "/dev/log";
  int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  if (fd < 0) {
    perror("socket");
    return 1;
  }
  sockaddr_un addr;
  memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path);
  unlink(path);
  if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    perror(path);
    return 1;
  }
  printf("ready\n");
  fflush(stdout);
  char buf[4096];
  for (;;) {
    ssize_t n = recv(fd, buf, sizeof buf - 1, 0);
    if (n < 0) continue;
    while (n > 0 && (buf[n - 1] == '\0' || buf[n - 1] == '\n')) --n;
    buf[n] = '\0';
    const char *text = buf;
    if (buf[0] == '<') {
      char *end = strchr(buf, '>');
      if (end) {
        printf("priority %d: ", atoi(buf + 1) & 7);
        text = end + 1;
      }
    }
    printf("%s\n", text);
    fflush(stdout);
  }
}
