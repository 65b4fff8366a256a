// SPDX-License-Identifier: MIT
// Settings processing: what each routine copies, in which order it refuses,
// what stays stored after a refusal, and the flag logic of the update
// settings.
#include <gtest/gtest.h>

#include "client_fixture.h"

#include "fake_dns.h"
#include "peers.h"
#include "testworld.h"

namespace {

using ddnstest::CaptureOut;
using ddnstest::Client;
using ddnstest::HLDMSettings;

TEST(DDNSClientRegisterSettings, RefusesInOrderAndKeepsWhatWasCopied) {
  Client c;
  ASSERT_EQ(c.result, 0u);
  DDNSClientSettings s = HLDMSettings("", "owner@example.com", "secret", "", 0x1E);
  std::string out = CaptureOut(
      [&] { EXPECT_EQ(DDNSClient_ProcessRegisterSettings(c.context, &s), 0x80010006u); });
  EXPECT_EQ(out, "[DDNSClient_ProcessRegisterSettings] Need hostname for HLDM DDNS\r\n");
  EXPECT_STREQ(c->szHLDMEmail, "owner@example.com");
  EXPECT_STREQ(c->szHLDMKey, "secret");

  s = HLDMSettings("cam.example", "", "secret", "", 0x1E);
  out = CaptureOut(
      [&] { EXPECT_EQ(DDNSClient_ProcessRegisterSettings(c.context, &s), 0x80010006u); });
  EXPECT_EQ(out, "[DDNSClient_ProcessRegisterSettings] Need E-mail for HLDM DDNS\r\n");

  s = HLDMSettings("cam.example", "owner@example.com", "", "", 0x1E);
  out = CaptureOut(
      [&] { EXPECT_EQ(DDNSClient_ProcessRegisterSettings(c.context, &s), 0x80010006u); });
  EXPECT_EQ(out, "[DDNSClient_ProcessRegisterSettings] Need password for HLDM DDNS\r\n");

  // No server name anywhere.
  s = HLDMSettings("cam.example", "owner@example.com", "secret", "", 0x1E);
  out = CaptureOut(
      [&] { EXPECT_EQ(DDNSClient_ProcessRegisterSettings(c.context, &s), 0x80010005u); });
  EXPECT_EQ(out, "[DDNSClient_ProcessRegisterSettings] Need server name for HLDM DDNS\r\n");
  EXPECT_STREQ(c->szHLDMHostName, "cam.example");

  s.dwFlags |= 0x100;
  out = CaptureOut(
      [&] { EXPECT_EQ(DDNSClient_ProcessRegisterSettings(c.context, &s), 0x80010005u); });
  EXPECT_EQ(out, "[DDNSClient_ProcessRegisterSettings] Need server name for HLDM DDNS\r\n");
}

TEST(DDNSClientRegisterSettings, AlternativePortRule) {
  Client c;
  ASSERT_EQ(c.result, 0u);
  struct Case {
    uint16_t given, kept;
  };
  for (Case k : {Case{443, 0}, Case{80, 80}, Case{1025, 1025}, Case{1024, 0}, Case{0, 0},
                 Case{65535, 65535}, Case{8080, 8080}, Case{81, 0}}) {
    DDNSClientSettings s = HLDMSettings("cam.example", "a@b.c", "k", "127.0.0.1", 0x111E);
    s.wHTTPAlternativePort = k.given;
    c->wHTTPAlternativePort = 12345;
    DDNSClient_ProcessRegisterSettings(c.context, &s);
    EXPECT_EQ(c->wHTTPAlternativePort, k.kept) << k.given;
    EXPECT_EQ(c->dwHTTPAlternativePortPresent, 1u);
  }
}

TEST(DDNSClientRegisterSettings, ServerNameChecks) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::WriteResolvConf("nameserver 127.0.0.1\n");
  Client c;
  ASSERT_EQ(c.result, 0u);
  DDNSClientSettings s = HLDMSettings("cam.example", "a@b.c", "k", "hldm.example", 0x11E);
  {
    nrtest::FakeDns dns(nrtest::Names{{"hldm.example", "127.0.0.7"}});
    ASSERT_TRUE(dns.ok());
    EXPECT_EQ(DDNSClient_ProcessRegisterSettings(c.context, &s), 0u);
    EXPECT_STREQ(c->szHLDMServerName, "hldm.example");

    std::strcpy(s.szHLDMServerName, "nxdomain.example");
    std::string out = CaptureOut(
        [&] { EXPECT_EQ(DDNSClient_ProcessRegisterSettings(c.context, &s), 0x80010005u); });
    EXPECT_NE(out.find("[DDNSClient_ProcessRegisterSettings] Invalid HLDM DDNS server name\r\n"),
              std::string::npos);
    EXPECT_STREQ(c->szHLDMServerName, "hldm.example") << "a refused name is not stored";
  }
  {
    nrtest::FakeDns silent(nrtest::NoAnswer());
    ASSERT_TRUE(silent.ok());
    std::string out = CaptureOut(
        [&] { EXPECT_EQ(DDNSClient_ProcessRegisterSettings(c.context, &s), 0x80020010u); });
    EXPECT_NE(out.find("[DDNSClient_ProcessRegisterSettings]Network error for checking HLDM DDNS "
                       "server name \r\n"),
              std::string::npos);
  }
  // Without flag 0x100 the stored name serves.
  s.dwFlags = 0x1E;
  EXPECT_EQ(DDNSClient_ProcessRegisterSettings(c.context, &s), 0u);
}

TEST(DDNSClientRequestKeySettings, NoKeyNoPort) {
  Client c;
  ASSERT_EQ(c.result, 0u);
  DDNSClientSettings s = HLDMSettings("cam.example", "a@b.c", "", "127.0.0.1", 0x110E);
  s.wHTTPAlternativePort = 8080;
  EXPECT_EQ(DDNSClient_ProcessRequestKeySettings(c.context, &s), 0u);
  EXPECT_EQ(c->dwHTTPAlternativePortPresent, 0u);
  EXPECT_STREQ(c->szHLDMKey, "");
  EXPECT_STREQ(c->szHLDMServerName, "127.0.0.1");
  s.szUserName[0] = '\0';
  EXPECT_EQ(CaptureOut([&] {
              EXPECT_EQ(DDNSClient_ProcessRequestKeySettings(c.context, &s), 0x80010006u);
            }),
            "[DDNSClient_ProcessRequestKeySettings] Need E-mail for HLDM DDNS\r\n");
}

TEST(DDNSClientCheckHostNameSettings, PrintsTheServerNameFirst) {
  Client c;
  ASSERT_EQ(c.result, 0u);
  DDNSClientSettings s = HLDMSettings("cam.example", "", "", "", 0x106);
  EXPECT_EQ(CaptureOut([&] {
              EXPECT_EQ(DDNSClient_ProcessCheckHostNameSettingsEx(c.context, &s), 0x80010005u);
            }),
            "servername = \n[DDNSClient_ProcessCheckHostNameSettings] Need server name for HLDM "
            "DDNS\r\n");
  std::strcpy(s.szHLDMServerName, "127.0.0.1");
  EXPECT_EQ(
      CaptureOut([&] { EXPECT_EQ(DDNSClient_ProcessCheckHostNameSettingsEx(c.context, &s), 0u); }),
      "servername = 127.0.0.1\n");

  // The plain routine never looks at the settings' server name.
  Client other;
  ASSERT_EQ(other.result, 0u);
  EXPECT_EQ(CaptureOut([&] {
              EXPECT_EQ(DDNSClient_ProcessCheckHostNameSettings(other.context, &s), 0x80010005u);
            }),
            "[DDNSClient_ProcessCheckHostNameSettings] Need server name for HLDM DDNS\r\n");
  EXPECT_STREQ(other->szHLDMHostName, "cam.example");
  s.szHostName[0] = '\0';
  EXPECT_EQ(CaptureOut([&] {
              EXPECT_EQ(DDNSClient_ProcessCheckHostNameSettings(other.context, &s), 0x80010006u);
            }),
            "[DDNSClient_ProcessCheckHostNameSettings] Need hostname for HLDM DDNS\r\n");
}

TEST(DDNSClientEnable, ProviderMustBeHLDM) {
  Client c;
  ASSERT_EQ(c.result, 0u);
  DDNSClientSettings s = HLDMSettings("cam.example", "a@b.c", "k", "127.0.0.1", 0x11E);
  s.dwServiceProvider = 3;
  EXPECT_EQ(CaptureOut([&] { EXPECT_EQ(DDNSClient_RegisterEnable(c.context, &s), 0x80010006u); }),
            "[DDNSClient_RegisterEnable] Invalid service provider: 3\r\n");
  EXPECT_EQ(CaptureOut([&] { EXPECT_EQ(DDNSClient_RequestKeyEnable(c.context, &s), 0x80010006u); }),
            "[DDNSClient_RequestKeyEnable] Invalid service provider: 3\r\n");
  EXPECT_STREQ(c->szHLDMEmail, "");
  s.dwServiceProvider = 24;
  EXPECT_EQ(DDNSClient_RegisterEnable(c.context, &s), 0u);
  EXPECT_STREQ(c->szHLDMKey, "k");
  EXPECT_EQ(DDNSClient_RequestKeyEnable(c.context, &s), 0u);
  // The semaphore was given back each time.
  EXPECT_EQ(OSSemaphore_Get(c->hSemaphore, 0), 0);
  OSSemaphore_Post(c->hSemaphore);
}

TEST(DDNSClientPublicHLDM, WrongProviderTouchesNothing) {
  Client c;
  ASSERT_EQ(c.result, 0u);
  DDNSClientSettings s = HLDMSettings("cam.example", "a@b.c", "k", "127.0.0.1", 0x11E);
  s.dwServiceProvider = 3;
  uint32_t address = 0;
  EXPECT_EQ(CaptureOut([&] {
              EXPECT_EQ(DDNSClient_HLDMRegister(c.context, &s, 5, &address), 0x80010006u);
            }),
            "[DDNSClient_HLDMRegister] Invalid service provider: 3\r\n");
  EXPECT_EQ(
      CaptureOut([&] { EXPECT_EQ(DDNSClient_HLDMRequestKey(c.context, &s, 5), 0x80010006u); }),
      "[DDNSClient_HLDMRequestKey] Invalid service provider: 3\r\n");
  EXPECT_EQ(
      CaptureOut([&] { EXPECT_EQ(DDNSClient_HLDMCheckHostname(c.context, &s, 5), 0x80010006u); }),
      "[DDNSClient_HLDMCheckHostname] Invalid service provider: 3\r\n");
  EXPECT_EQ(CaptureOut([&] { EXPECT_EQ(DDNSClient_HLDMOffline(c.context, &s, 5), 0x80010006u); }),
            "");
  EXPECT_STREQ(c->szHLDMEmail, "");
  EXPECT_STREQ(c->szHLDMHostName, "");
  EXPECT_EQ(c->dwNetworkTimeout, 0u);

  EXPECT_EQ(CaptureOut([&] {
              EXPECT_EQ(DDNSClient_HLDMRegister(c.context, &s, 5, nullptr), 0x80010006u);
            }),
            "[DDNSClient_HLDMRegister] Invalid arguments\r\n");
  EXPECT_EQ(CaptureOut([&] { EXPECT_EQ(DDNSClient_HLDMRequestKey(nullptr, &s, 5), 0x80010006u); }),
            "[DDNSClient_HLDMRequestKey] Invalid arguments\r\n");
  EXPECT_EQ(CaptureOut([&] {
              EXPECT_EQ(DDNSClient_HLDMCheckHostname(c.context, nullptr, 5), 0x80010006u);
            }),
            "");
}

DDNSClientSettings UpdateSettings(uint32_t flags, uint32_t provider) {
  DDNSClientSettings s;
  std::memset(&s, 0, sizeof s);
  s.dwFlags = flags;
  s.dwEnable = 1;
  s.dwServiceProvider = provider;
  return s;
}

TEST(DDNSClientUpdateSettings, DisabledProcessesNothing) {
  Client c;
  ASSERT_EQ(c.result, 0u);
  DDNSClientSettings s = UpdateSettings(0x3, 9);
  s.dwEnable = 0;
  EXPECT_EQ(DDNSClient_ProcessUpdateSettings(c.context, &s), 0u);
  EXPECT_EQ(c->dwEnabled, 0u);
  EXPECT_EQ(c->dwServiceProvider, 1u);
  // Without flag 0x1 the context's own switch decides.
  s.dwFlags = 0x2;
  s.dwEnable = 1;
  EXPECT_EQ(DDNSClient_ProcessUpdateSettings(c.context, &s), 0u);
  EXPECT_EQ(c->dwServiceProvider, 1u);
}

TEST(DDNSClientUpdateSettings, ProviderIntervalPortsAndTexts) {
  Client c;
  ASSERT_EQ(c.result, 0u);
  DDNSClientSettings s = UpdateSettings(0x3 | 0x18 | 0x20 | 0x40 | 0x80 | 0x400 | 0x800, 9);
  std::strcpy(s.szUserName, "user");
  std::strcpy(s.szPassword, "pass");
  s.dwUpdateInterval = 3;  // below provider 9's floor of 5
  s.dwCheckIPPortSwitch = 7;
  s.wCheckIPPort = 8245;
  s.dwUpdatePortSwitch = 0;
  s.wUpdatePort = 0;
  std::strcpy(s.szProviderText1, "text one");
  EXPECT_EQ(DDNSClient_ProcessUpdateSettings(c.context, &s), 0u);
  EXPECT_EQ(c->dwEnabled, 1u);
  EXPECT_EQ(c->dwServiceProvider, 9u);
  EXPECT_EQ(c->dwUpdateInterval, 5u);
  EXPECT_EQ(c->dwCheckIPPortSwitch, 1u);
  EXPECT_EQ(c->wCheckIPPort, 8245);
  EXPECT_EQ(c->dwUpdatePortSwitch, 0u);
  EXPECT_STREQ(c->szUserName, "user");
  EXPECT_STREQ(c->szPassword, "pass");
  EXPECT_STREQ(c->szProviderText1, "text one");
  // 0x80 without a port and 0x800 with an empty text set no flag.
  EXPECT_EQ(c->dwSettingsFlags, 0x2u | 0x8 | 0x10 | 0x40 | 0x400);

  s.dwUpdateInterval = 42;
  EXPECT_EQ(DDNSClient_ProcessUpdateSettings(c.context, &s), 0u);
  EXPECT_EQ(c->dwUpdateInterval, 42u);

  // PeanutHull keeps its own interval whatever the settings say.
  s.dwServiceProvider = 20;
  EXPECT_EQ(DDNSClient_ProcessUpdateSettings(c.context, &s), 0u);
  EXPECT_EQ(c->dwUpdateInterval, 1u);

  // An invalid provider is refused and the previous one stays.
  s.dwServiceProvider = 32;
  std::string out =
      CaptureOut([&] { EXPECT_EQ(DDNSClient_ProcessUpdateSettings(c.context, &s), 0x80010006u); });
  EXPECT_NE(out.find("[DDNSClient_ProcessUpdateSettings] Invalid service provider 32\r\n"),
            std::string::npos);
  EXPECT_EQ(c->dwServiceProvider, 20u);

  // Provider-specific texts only for their provider.
  s = UpdateSettings(0x3, 25);
  std::strcpy(s.szMegaChipsText, "serial");
  std::strcpy(s.szProvider7Text, "io");
  EXPECT_EQ(DDNSClient_ProcessUpdateSettings(c.context, &s), 0u);
  EXPECT_STREQ(c->szMegaChipsText, "serial");
  EXPECT_STREQ(c->szProvider7Text, "");
}

TEST(DDNSClientUpdateSettings, NewHostNameSeedsTheLastAddressFromDNS) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::WriteResolvConf("nameserver 127.0.0.1\n");
  nrtest::FakeDns dns(nrtest::Names{{"cam.dyn.example", "198.51.100.4"}});
  ASSERT_TRUE(dns.ok());
  Client c;
  ASSERT_EQ(c.result, 0u);
  DDNSClientSettings s = UpdateSettings(0x7, 1);
  std::strcpy(s.szHostName, "cam.dyn.example");
  EXPECT_EQ(DDNSClient_ProcessUpdateSettings(c.context, &s), 0u);
  EXPECT_STREQ(c->szHostName, "cam.dyn.example");
  EXPECT_EQ(c->dwLastIP, inet_addr("198.51.100.4"));
  const size_t queries = dns.queries().size();
  // The same name again: no new query.
  EXPECT_EQ(DDNSClient_ProcessUpdateSettings(c.context, &s), 0u);
  EXPECT_EQ(dns.queries().size(), queries);

  std::strcpy(s.szHostName, "gone.dyn.example");
  std::string out =
      CaptureOut([&] { EXPECT_EQ(DDNSClient_ProcessUpdateSettings(c.context, &s), 0u); });
  EXPECT_NE(out.find("DDNSClient_ProcessUpdateSettings(): NetUtility_DNSResolve() failed!! \r\n"),
            std::string::npos);
  EXPECT_EQ(c->dwLastIP, 0u);
  EXPECT_EQ(c->dwSettingsFlags & 0x4u, 0x4u);

  // No name server yet (a camera before DHCP): the settings are taken, the
  // last address is unknown, and the network is the operation's problem.
  c->dwLastIP = inet_addr("192.0.2.9");
  nrtest::WriteResolvConf("search example\n");
  std::strcpy(s.szHostName, "third.dyn.example");
  out = CaptureOut([&] { EXPECT_EQ(DDNSClient_ProcessUpdateSettings(c.context, &s), 0u); });
  EXPECT_NE(out.find("DDNSClient_ProcessUpdateSettings(): NetUtility_GetDNSIP() failed!! \r\n"),
            std::string::npos);
  EXPECT_STREQ(c->szHostName, "third.dyn.example");
  EXPECT_EQ(c->dwLastIP, 0u);
}

TEST(DDNSClientSettingsChanged, ComparesOnlyFlaggedFields) {
  Client c;
  ASSERT_EQ(c.result, 0u);
  std::strcpy(c->szHostName, "cam.example");
  std::strcpy(c->szUserName, "user");
  std::strcpy(c->szPassword, "pass");
  c->dwUpdateInterval = 10;
  c->dwCheckIPPortSwitch = 1;
  c->dwUpdatePortSwitch = 1;
  DDNSClientSettings same;
  std::memset(&same, 0, sizeof same);
  std::strcpy(same.szHostName, "cam.example");
  std::strcpy(same.szUserName, "user");
  std::strcpy(same.szPassword, "pass");
  same.dwUpdateInterval = 10;
  same.dwCheckIPPortSwitch = 1;
  same.dwUpdatePortSwitch = 1;
  same.dwFlags = 0xCFC;
  EXPECT_EQ(DDNSClient_IsSettingsChanged(c.context, &same), 0);

  struct Case {
    uint32_t flag;
    void (*change)(DDNSClientSettings *);
  };
  const Case cases[] = {
      {0x4, [](DDNSClientSettings *s) { std::strcpy(s->szHostName, "other.example"); }},
      {0x8, [](DDNSClientSettings *s) { std::strcpy(s->szUserName, "x"); }},
      {0x10, [](DDNSClientSettings *s) { std::strcpy(s->szPassword, "x"); }},
      {0x20, [](DDNSClientSettings *s) { s->dwUpdateInterval = 11; }},
      {0x40, [](DDNSClientSettings *s) { s->dwCheckIPPortSwitch = 0; }},
      {0x80, [](DDNSClientSettings *s) { s->dwUpdatePortSwitch = 0; }},
      {0x400, [](DDNSClientSettings *s) { std::strcpy(s->szProviderText1, "x"); }},
      {0x800, [](DDNSClientSettings *s) { std::strcpy(s->szProviderText2, "x"); }},
  };
  for (const Case &k : cases) {
    DDNSClientSettings s = same;
    k.change(&s);
    EXPECT_EQ(DDNSClient_IsSettingsChanged(c.context, &s), 1) << std::hex << k.flag;
    s.dwFlags &= ~k.flag;
    EXPECT_EQ(DDNSClient_IsSettingsChanged(c.context, &s), 0) << std::hex << k.flag;
  }
}

}  // namespace
