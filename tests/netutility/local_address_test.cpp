// SPDX-License-Identifier: MIT
// Local interface address on dummy interfaces of the test world.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "namreg/netutility.h"
#include "output_capture.h"
#include "testworld.h"

namespace {

// A named interface with an address (or none).  Kernels built without the
// dummy link type get a bridge instead; SIOCGIFADDR does not care.
bool AddInterface(const std::string &name, const std::string &cidr) {
  if (nrtest::AddDummyInterface(name, cidr)) return true;
  const std::string ip = nrtest::FindProgram("ip");
  if (ip.empty()) return false;
  nrtest::RunProcess({ip, "link", "del", name});
  if (nrtest::RunProcess({ip, "link", "add", name, "type", "bridge"}).exit_status != 0)
    return false;
  if (!cidr.empty() && nrtest::RunProcess({ip, "addr", "add", cidr, "dev", name}).exit_status != 0)
    return false;
  return nrtest::RunProcess({ip, "link", "set", name, "up"}).exit_status == 0;
}

TEST(NetUtilityLocalAddress, WiredAndWireless) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::StdoutCapture out;
  const int fds = nrtest::CountOpenFds();
  uint32_t address = 0;
  // Neither interface exists yet.
  EXPECT_EQ(NetUtility_GetLocalIP(NETUTILITY_IF_WIRED, &address), -1);
  EXPECT_EQ(out.Take(), "[NetUtility_GetLocalIP] ioctl failed. errno: No such device(19)\r\n");
  EXPECT_EQ(NetUtility_GetLocalIP(NETUTILITY_IF_WIRELESS, &address), -1);
  out.Take();

  ASSERT_TRUE(AddInterface("eth0", "10.1.2.3/24"));
  ASSERT_TRUE(AddInterface("wlan0", "192.168.77.9/16"));
  EXPECT_EQ(NetUtility_GetLocalIP(NETUTILITY_IF_WIRED, &address), 0);
  EXPECT_EQ(address, inet_addr("10.1.2.3"));
  EXPECT_EQ(NetUtility_GetLocalIP(NETUTILITY_IF_WIRELESS, &address), 0);
  EXPECT_EQ(address, inet_addr("192.168.77.9"));
  EXPECT_EQ(out.Take(), "");

  EXPECT_EQ(NetUtility_GetLocalIP(2, &address), -1);
  EXPECT_EQ(NetUtility_GetLocalIP(-1, &address), -1);
  EXPECT_EQ(out.Take(),
            "[NetUtility_GetLocalIP] Invalid network interface type: 2\r\n"
            "[NetUtility_GetLocalIP] Invalid network interface type: -1\r\n");
  EXPECT_EQ(address, inet_addr("192.168.77.9"));
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

TEST(NetUtilityLocalAddress, InterfaceWithoutAddress) {
  NAMREG_REQUIRE_SANDBOX();
  ASSERT_TRUE(AddInterface("eth0", ""));
  nrtest::StdoutCapture out;
  uint32_t address = 0x01010101;
  EXPECT_EQ(NetUtility_GetLocalIP(NETUTILITY_IF_WIRED, &address), -1);
  EXPECT_EQ(out.Take(),
            "[NetUtility_GetLocalIP] ioctl failed. errno: Cannot assign requested "
            "address(99)\r\n");
  EXPECT_EQ(address, 0x01010101u);
}

}  // namespace
