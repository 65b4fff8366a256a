// SPDX-License-Identifier: MIT
// The client context: creation and its refusals, release, the setters, the
// server-name checks and the provider table's validity test.
#include <gtest/gtest.h>

#include <fcntl.h>

#include "client_fixture.h"
#include "fake_dns.h"
#include "peers.h"
#include "testworld.h"

namespace {

using ddnstest::CaptureOut;
using ddnstest::Client;
using ddnstest::DefaultInitInfo;

TEST(DDNSClientInitial, CreatesADisabledContextWithDefaults) {
  const int fds = nrtest::CountOpenFds();
  {
    Client c;
    ASSERT_EQ(c.result, 0u);
    ASSERT_NE(c.context, nullptr);
    EXPECT_EQ(c->dwEnabled, 0u);
    EXPECT_EQ(c->dwServiceProvider, 1u);
    EXPECT_EQ(c->dwPublicIPSource, 1u);
    EXPECT_EQ(c->dwCheckIPPortSwitch, 1u);
    EXPECT_EQ(c->dwUpdatePortSwitch, 1u);
    EXPECT_STREQ(c->szMAC, "024D52A1B2C3");
    EXPECT_STREQ(c->szFirmwareVersion, "IPCAM");
    EXPECT_EQ(c->dwSettingsFlags, 0u) << "no server names given, none checked";
    EXPECT_NE(c->hSemaphore, nullptr);
    EXPECT_NE(c->pHTTPClient, nullptr);
  }
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

TEST(DDNSClientInitial, RefusalsInTheirOrder) {
  DDNSClientInitInfo info = DefaultInitInfo();
  DDNSClientContext *context = nullptr;
  EXPECT_EQ(CaptureOut([&] { EXPECT_EQ(DDNSClient_Initial(nullptr, &info), 0x80010006u); }),
            "[DDNSClient_Initial] Invalid arguments\r\n");
  EXPECT_EQ(DDNSClient_Initial(&context, nullptr), 0x80010006u);

  struct Case {
    const char *what;
    void (*change)(DDNSClientInitInfo *);
    uint32_t result;
    const char *line;
  };
  const Case cases[] = {
      {"version 0xD01", [](DDNSClientInitInfo *i) { i->dwVersion = 0x00000D01; }, 0x80010001u,
       "[DDNSClient_Initial] Invalid version\r\n"},
      {"11-digit MAC", [](DDNSClientInitInfo *i) { std::strcpy(i->szMAC, "024D52A1B2C"); },
       0x80010003u, "[DDNSClient_Initial] Invalid MAC address\r\n"},
      {"MAC with a non-hex digit",
       [](DDNSClientInitInfo *i) { std::strcpy(i->szMAC, "024D52A1B2CG"); }, 0x80010003u,
       "[DDNSClient_Initial] Invalid MAC address\r\n"},
      {"no firmware", [](DDNSClientInitInfo *i) { i->szFirmwareVersion[0] = '\0'; }, 0x80010004u,
       "[DDNSClient_Initial] Need firmware version\r\n"},
  };
  const int fds = nrtest::CountOpenFds();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    DDNSClientInitInfo bad = DefaultInitInfo();
    c.change(&bad);
    context = nullptr;
    std::string out = CaptureOut([&] { EXPECT_EQ(DDNSClient_Initial(&context, &bad), c.result); });
    EXPECT_NE(out.find(c.line), std::string::npos) << out;
    EXPECT_EQ(context, nullptr) << "a failed creation leaves the handle null";
  }
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

TEST(DDNSClientInitial, KeepsAtMost31FirmwareCharacters) {
  DDNSClientInitInfo info = DefaultInitInfo();
  std::memset(info.szFirmwareVersion, 'F', sizeof info.szFirmwareVersion);  // not even terminated
  DDNSClientContext *context = nullptr;
  ASSERT_EQ(DDNSClient_Initial(&context, &info), 0u);
  EXPECT_EQ(std::string(context->szFirmwareVersion), std::string(31, 'F'));
  DDNSClient_Release(&context);
}

TEST(DDNSClientInitial, ChecksTheServerNamesWithTheNameServer) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::WriteResolvConf("nameserver 127.0.0.1\n");
  nrtest::FakeDns dns(nrtest::Names{{"ddns.example", "127.0.0.9"}});
  ASSERT_TRUE(dns.ok());

  DDNSClientInitInfo info = DefaultInitInfo();
  std::strcpy(info.szHLDMServerName, "ddns.example");
  std::strcpy(info.szDDNSServerName, "ddns.example");
  DDNSClientContext *context = nullptr;
  ASSERT_EQ(DDNSClient_Initial(&context, &info), 0u);
  EXPECT_STREQ(context->szHLDMServerName, "ddns.example");
  EXPECT_STREQ(context->szDDNSServerName, "ddns.example");
  EXPECT_EQ(context->dwSettingsFlags, 0x300u);
  DDNSClient_Release(&context);

  // A name the server does not know: refused, the context stays for the
  // caller to release.
  std::strcpy(info.szHLDMServerName, "nowhere.example");
  std::string out =
      CaptureOut([&] { EXPECT_EQ(DDNSClient_Initial(&context, &info), 0x80010005u); });
  EXPECT_NE(out.find("[DDNSClient_Initial] Invalid HLDM DDNS server name\r\n"), std::string::npos)
      << out;
  EXPECT_NE(context, nullptr);
  DDNSClient_Release(&context);

  std::strcpy(info.szHLDMServerName, "ddns.example");
  std::strcpy(info.szDDNSServerName, "nowhere.example");
  out = CaptureOut([&] { EXPECT_EQ(DDNSClient_Initial(&context, &info), 0x80010005u); });
  EXPECT_NE(out.find("[DDNSClient_Initial] Invalid DDNS server name\r\n"), std::string::npos)
      << out;
  DDNSClient_Release(&context);
}

TEST(DDNSClientInitial, KeepsAServerNameThatCannotBeChecked) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::WriteResolvConf("nameserver 127.0.0.1\n");
  nrtest::FakeDns dns(nrtest::NoAnswer());
  ASSERT_TRUE(dns.ok());
  DDNSClientInitInfo info = DefaultInitInfo();
  std::strcpy(info.szHLDMServerName, "ddns.example");
  DDNSClientContext *context = nullptr;
  std::string out = CaptureOut([&] { EXPECT_EQ(DDNSClient_Initial(&context, &info), 0u); });
  EXPECT_NE(out.find("[DDNSClient_Initial]Network error for checking HLDM DDNS server name \r\n"),
            std::string::npos)
      << out;
  EXPECT_STREQ(context->szHLDMServerName, "ddns.example");
  EXPECT_EQ(context->dwSettingsFlags & 0x100u, 0x100u);
  DDNSClient_Release(&context);
}

TEST(DDNSClientRelease, AcceptsANullHandle) {
  DDNSClientContext *context = nullptr;
  EXPECT_EQ(DDNSClient_Release(&context), 0u);
  EXPECT_EQ(context, nullptr);
  EXPECT_EQ(DDNSClient_Release(nullptr), 0u);
}

TEST(DDNSClientSetters, SetExternalIP) {
  Client c;
  ASSERT_EQ(c.result, 0u);
  EXPECT_EQ(CaptureOut(
                [&] { EXPECT_EQ(DDNSClient_SetExternalIP(c.context, 3, "1.2.3.4"), 0x80010006u); }),
            "[DDNSClient_SetExternalIP] Invalid status: 3\r\n");
  EXPECT_EQ(CaptureOut([&] { EXPECT_EQ(DDNSClient_SetExternalIP(c.context, 2, ""), 0x80010006u); }),
            "[DDNSClient_SetExternalIP] Invalid arguments\r\n");
  EXPECT_EQ(CaptureOut(
                [&] { EXPECT_EQ(DDNSClient_SetExternalIP(c.context, 2, "0.0.0.0"), 0x80010006u); }),
            "[DDNSClient_SetExternalIP] Invalid external IP: 0.0.0.0\r\n");
  EXPECT_EQ(c->dwPublicIPSource, 1u);

  EXPECT_EQ(DDNSClient_SetExternalIP(c.context, 2, "203.0.113.77 and more text"), 0u);
  EXPECT_EQ(c->dwPublicIPSource, 2u);
  EXPECT_STREQ(c->szCurrentIP, "203.0.113.77 an") << "cut to 15 characters";

  EXPECT_EQ(DDNSClient_SetExternalIP(c.context, 1, "anything"), 0u);
  EXPECT_EQ(c->dwPublicIPSource, 1u);
  EXPECT_STREQ(c->szCurrentIP, "203.0.113.77 an") << "status 1 stores no address";
}

TEST(DDNSClientSetters, SetParametersKeepsACopy) {
  Client c;
  ASSERT_EQ(c.result, 0u);
  DDNSClientSettings s = ddnstest::HLDMSettings("cam.example", "a@b.c", "key", "", 0x1E);
  std::strcpy(s.szCameraIP, "192.0.2.10");
  s.wCameraPort = 8080;
  EXPECT_EQ(DDNSClient_SetParameters(c.context, &s), 0u);
  EXPECT_EQ(std::memcmp(&c->tLastSettings, &s, sizeof s), 0);
  EXPECT_EQ(DDNSClient_SetParameters(nullptr, &s), 0x80010006u);
}

TEST(DDNSClientNecessaryFlag, ByProvider) {
  Client c;
  ASSERT_EQ(c.result, 0u);
  struct Case {
    uint32_t provider, flags;
    int expected;
  };
  const Case cases[] = {
      {22, 0x1C, 0},  {22, 0x02, 1},  {1, 0x0E, 0},   {1, 0x1E, 1},   {5, 0x1E, 0},
      {5, 0x11E, 1},  {24, 0x11E, 1}, {24, 0x21E, 0}, {10, 0x1E, 0},  {10, 0x21E, 1},
      {26, 0x21E, 1}, {27, 0x11E, 0}, {29, 0x21E, 1}, {34, 0x21E, 1}, {23, 0x21E, 0},
      {23, 0xEDE, 1}, {23, 0xE9E, 0}, {36, 0x1E, 1},
  };
  for (const Case &k : cases) {
    c->dwServiceProvider = k.provider;
    c->dwSettingsFlags = k.flags;
    EXPECT_EQ(DDNSClient_CheckNecessaryFlag(c.context), k.expected)
        << k.provider << " " << std::hex << k.flags;
  }
  EXPECT_EQ(DDNSClient_CheckNecessaryFlag(nullptr), 0);
}

TEST(DDNSClientCheckServerName, StoresTheNameTheProviderNeeds) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::WriteResolvConf("nameserver 127.0.0.1\n");
  nrtest::FakeDns dns(
      nrtest::Names{{"members.example", "127.0.0.5"}, {"hldm.example", "127.0.0.6"}});
  ASSERT_TRUE(dns.ok());
  Client c;
  ASSERT_EQ(c.result, 0u);
  DDNSClientSettings s =
      ddnstest::HLDMSettings("cam.example", "a@b.c", "key", "hldm.example", 0x31E);
  std::strcpy(s.szDDNSServerName, "members.example");

  // Disabled: nothing is checked.
  EXPECT_EQ(DDNSClient_CheckServerName(c.context, &s), 0u);
  EXPECT_EQ(dns.queries().size(), 0u);

  c->dwEnabled = 1;
  c->dwServiceProvider = 10;
  s.dwServiceProvider = 10;
  EXPECT_EQ(DDNSClient_CheckServerName(c.context, &s), 0u);
  EXPECT_STREQ(c->szDDNSServerName, "members.example");
  EXPECT_EQ(c->dwSettingsFlags & 0x200u, 0x200u);

  c->dwServiceProvider = 5;
  s.dwServiceProvider = 5;
  EXPECT_EQ(DDNSClient_CheckServerName(c.context, &s), 0u);
  EXPECT_STREQ(c->szHLDMServerName, "hldm.example");
  EXPECT_EQ(c->dwSettingsFlags & 0x100u, 0x100u);

  std::strcpy(s.szHLDMServerName, "unknown.example");
  std::string out =
      CaptureOut([&] { EXPECT_EQ(DDNSClient_CheckServerName(c.context, &s), 0x80010005u); });
  EXPECT_NE(out.find("[DDNSClient_CheckServerName] Invalid HLDM DDNS server name\r\n"),
            std::string::npos)
      << out;

  // A provider that needs no server name, with settings lacking the account.
  c->dwServiceProvider = 1;
  c->dwSettingsFlags = 0x2;
  s.dwFlags = 0x2;
  out = CaptureOut([&] { EXPECT_EQ(DDNSClient_CheckServerName(c.context, &s), 0xFFFFFFFFu); });
  EXPECT_EQ(out,
            "[DDNSClient_CheckServerName] Lack some settings " + std::string(7, ' ') + "2\r\n");
}

TEST(DDNSClientProviderTable, ValidityFollowsTheRows) {
  for (uint32_t p : {0u, 38u, 1000u}) {
    EXPECT_EQ(CaptureOut([&] { EXPECT_EQ(DDNSClient_IsValidServiceProv(p), 0); }), "") << p;
  }
  for (uint32_t p :
       {1u, 2u, 3u, 4u, 5u, 6u, 7u, 12u, 15u, 18u, 19u, 20u, 21u, 23u, 24u, 25u, 30u, 35u, 36u}) {
    EXPECT_EQ(DDNSClient_IsValidServiceProv(p), 1) << p;
  }
  for (uint32_t p : {13u, 14u, 22u, 32u, 37u}) {
    std::string expected = "[DDNSClient_IsValidServiceProv] Need definition for service provider " +
                           std::to_string(p) + "\r\n";
    EXPECT_EQ(CaptureOut([&] { EXPECT_EQ(DDNSClient_IsValidServiceProv(p), 0); }), expected);
  }
  EXPECT_EQ(g_tDDNSServiceInfo[5].pfnUpdate, &DDNSClient_Update_HLDM);
  EXPECT_EQ(g_tDDNSServiceInfo[24].pfnCheckIP, &DDNSClient_CheckIP_HLDM);
  EXPECT_EQ(g_tDDNSServiceInfo[37].dwMinInterval, 30u);
  EXPECT_EQ(g_tDDNSServiceInfo[22].dwMinInterval, 3u);
}

}  // namespace
