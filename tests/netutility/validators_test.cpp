// SPDX-License-Identifier: MIT
// Validators, address classes, and the socket / clock helpers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "namreg/netutility.h"
#include "output_capture.h"
#include "testworld.h"

namespace {

int Len(const char *s) {
  return static_cast<int>(strlen(s));
}

TEST(NetUtilityValidators, DottedAddressRules) {
  struct Case {
    const char *text;
    int valid;
  } cases[] = {
      {"1.2.3.4", 1},    {"255.255.255.255", 1}, {"0.0.0.0", 1},          {"192.168.0.1", 1},
      {"10..2.33", 1},  // empty groups pass
      {"12.3.4.", 1},   // an empty last group passes too
      {"1.2.3.", 0},    // 6 characters: too short
      {"1.2.3", 0},      {"1.2.3.256", 0},       {"256.1.1.1", 0},        {"1234.1.1.1", 0},
      {"a.1.1.1", 0},    {"1.2.3.4.5", 0},       {"1.2.3.4 ", 0},         {"1.2.3.-4", 0},
      {"1.2.3.4444", 0}, {"1.2.3.4.", 0},        {".1.2.3.4", 0},         {"1.2.3.4:80", 0},
      {"1.2.30", 0},     {"11.22.33.44.5", 0},   {"255.255.255.2555", 0},
  };
  for (const Case &c : cases)
    EXPECT_EQ(NetUtility_IsValidIP(c.text, Len(c.text)), c.valid) << c.text;
  // Only the given length is looked at.
  EXPECT_EQ(NetUtility_IsValidIP("1.2.3.4xyz", 7), 1);
  EXPECT_EQ(NetUtility_IsValidIP("1.2.3.4", 6), 0);
  EXPECT_EQ(NetUtility_IsValidIP("1.2.3.4", -1), 0);
  // Sixteen characters are too many even when the address is fine.
  EXPECT_EQ(NetUtility_IsValidIP("001.002.003.0004", 16), 0);
}

TEST(NetUtilityValidators, NullTextsPrintTheirComplaint) {
  nrtest::StdoutCapture out;
  EXPECT_EQ(NetUtility_IsValidIP(nullptr, 7), 0);
  EXPECT_EQ(out.Take(), "[NetUtility_IsValidIP] Invalid arguments\r\n");
  EXPECT_EQ(NetUtility_IsValidMACAddr(nullptr, 12), 0);
  EXPECT_EQ(out.Take(), "[NetUtility_IsValidMACAddr] Invalid arguments\r\n");
  EXPECT_EQ(NetUtility_IsValidMACAddr("00:11:22:AA:BB", 14), 0);
  EXPECT_EQ(out.Take(), "[NetUtility_IsValidMACAddr] Invalid MAC address length\r\n");
  EXPECT_EQ(NetUtility_IsValidIP("1.2.3", 5), 0);
  EXPECT_EQ(out.Take(), "");  // a bad text is not an argument error
}

TEST(NetUtilityValidators, MacAddressRules) {
  EXPECT_EQ(NetUtility_IsValidMACAddr("001122AABBcc", 12), 1);
  EXPECT_EQ(NetUtility_IsValidMACAddr("abcdefABCDEF", 12), 1);
  EXPECT_EQ(NetUtility_IsValidMACAddr("001122AABBCG", 12), 0);
  EXPECT_EQ(NetUtility_IsValidMACAddr("0011-2AABBCC", 12), 0);
  EXPECT_EQ(NetUtility_IsValidMACAddr("001122AABBC", 11), 0);
  EXPECT_EQ(NetUtility_IsValidMACAddr("001122AABBCCD", 13), 0);
  // Twelve digits followed by more text: only the given length counts.
  EXPECT_EQ(NetUtility_IsValidMACAddr("001122AABBCCzz", 12), 1);
}

TEST(NetUtilityValidators, AddressClasses) {
  struct Case {
    const char *text;
    int type, is_private, is_link_local;
  } cases[] = {
      {"10.0.0.1", 1, 1, 0},       {"10.255.255.255", 1, 1, 0}, {"172.16.0.0", 1, 1, 0},
      {"172.31.255.255", 1, 1, 0}, {"172.32.0.0", 2, 0, 0},     {"172.15.255.255", 2, 0, 0},
      {"192.168.0.1", 1, 1, 0},    {"192.169.0.1", 2, 0, 0},    {"169.254.1.1", 3, 0, 1},
      {"169.255.0.1", 2, 0, 0},    {"169.253.0.1", 2, 0, 0},    {"0.0.0.0", 0, 0, 0},
      {"8.8.8.8", 2, 0, 0},        {"11.0.0.1", 2, 0, 0},       {"10..2.33", 1, 1, 0},
      {"not.an.address", 0, 0, 0}, {"1.2.3.256", 0, 0, 0},      {"0.0.0.1", 2, 0, 0},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(NetUtility_GetIPType(c.text, Len(c.text)), c.type) << c.text;
    EXPECT_EQ(NetUtility_IsPrivateIP(c.text, Len(c.text)), c.is_private) << c.text;
    EXPECT_EQ(NetUtility_IsLinkLocalIP(c.text, Len(c.text)), c.is_link_local) << c.text;
  }
}

TEST(NetUtilityHelpers, CloseSocketAndCloseSockets) {
  const int before = nrtest::CountOpenFds();
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(NetUtility_CloseSocket(&fd), 0);
  EXPECT_EQ(fd, -1);
  EXPECT_EQ(NetUtility_CloseSocket(&fd), -1);
  EXPECT_EQ(fd, -1);
  EXPECT_EQ(NetUtility_CloseSocket(nullptr), -1);

  int fds[3] = {socket(AF_INET, SOCK_DGRAM, 0), -1, socket(AF_INET, SOCK_STREAM, 0)};
  ASSERT_GE(fds[0], 0);
  ASSERT_GE(fds[2], 0);
  EXPECT_EQ(NetUtility_CloseSockets(fds, 3), 0);
  EXPECT_EQ(fds[0], -1);
  EXPECT_EQ(fds[1], -1);
  EXPECT_EQ(fds[2], -1);
  EXPECT_EQ(NetUtility_CloseSockets(nullptr, 3), -1);
  EXPECT_EQ(NetUtility_CloseSockets(fds, 0), -1);
  EXPECT_EQ(nrtest::CountOpenFds(), before);
}

TEST(NetUtilityHelpers, NonBlockingAndReuseAddress) {
  EXPECT_EQ(NetUtility_SetNonBlocking(-1), -1);
  EXPECT_EQ(NetUtility_SetReuseAddr(-1), -1);
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  EXPECT_EQ(NetUtility_SetNonBlocking(fd), 0);
  EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  EXPECT_EQ(NetUtility_SetReuseAddr(fd), 0);
  int on = 0;
  socklen_t len = sizeof(on);
  ASSERT_EQ(getsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, &len), 0);
  EXPECT_EQ(on, 1);
  close(fd);
  // A descriptor that is not open.
  EXPECT_EQ(NetUtility_SetReuseAddr(fd), -1);
  EXPECT_EQ(NetUtility_SetNonBlocking(fd), -1);
}

TEST(NetUtilityHelpers, TimeoutClock) {
  const uint32_t start = NetUtility_GetTickMs();
  uint32_t elapsed = 99;
  EXPECT_EQ(NetUtility_IsTimeout(start, 1, &elapsed), 0);
  EXPECT_EQ(elapsed, 0u);
  EXPECT_EQ(NetUtility_IsTimeout(start - 2500, 2, &elapsed), 1);
  EXPECT_EQ(elapsed, 2u);
  EXPECT_EQ(NetUtility_IsTimeout(start - 2500, 3, nullptr), 0);
  // The difference is absolute: a start in the future counts as well.
  EXPECT_EQ(NetUtility_IsTimeout(start + 5000, 4, nullptr), 1);
  usleep(1100 * 1000);
  EXPECT_EQ(NetUtility_IsTimeout(start, 1, &elapsed), 1);
  EXPECT_EQ(elapsed, 1u);
}

}  // namespace
