// SPDX-License-Identifier: MIT
// IPv4 address of the wired ("eth0") or wireless ("wlan0") interface.
#include <errno.h>
#include <net/if.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include "namreg/netutility.h"
#include "socket_util.h"

extern "C" int NetUtility_GetLocalIP(int interface_type, uint32_t *address) {
  const char *name;
  if (interface_type == NETUTILITY_IF_WIRED) {
    name = "eth0";
  } else if (interface_type == NETUTILITY_IF_WIRELESS) {
    name = "wlan0";
  } else {
    printf("[NetUtility_GetLocalIP] Invalid network interface type: %d\r\n", interface_type);
    return -1;
  }

  struct ifreq request;
  memset(&request, 0, sizeof(request));
  strncpy(request.ifr_name, name, IFNAMSIZ - 1);
  fdutil::SocketGuard sock(socket(AF_INET, SOCK_DGRAM, 0));
  if (!sock.valid()) {
    puts("[NetUtility_GetLocalIP] FAILED creating request socket\r");
    return -1;
  }
  const int status = ioctl(sock.get(), SIOCGIFADDR, &request);
  const int error = errno;
  sock.Close();
  if (status != 0) {
    printf("[NetUtility_GetLocalIP] ioctl failed. errno: %s(%d)\r\n", strerror(error), error);
    return -1;
  }
  struct sockaddr_in interface_address;
  memcpy(&interface_address, &request.ifr_addr, sizeof(interface_address));
  if (address != nullptr) *address = interface_address.sin_addr.s_addr;
  return 0;
}
