// SPDX-License-Identifier: MIT
// A client context made the way namreg makes it, with access to its fields.
#ifndef NAMREG_TESTS_DDNSCLIENT_CLIENT_FIXTURE_H
#define NAMREG_TESTS_DDNSCLIENT_CLIENT_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ddnsclient_internal.h"

namespace ddnstest {

inline DDNSClientInitInfo DefaultInitInfo() {
  DDNSClientInitInfo info;
  std::memset(&info, 0, sizeof info);
  info.dwVersion = DDNSCLIENT_VERSION;
  std::strcpy(info.szMAC, "024D52A1B2C3");
  std::strcpy(info.szFirmwareVersion, "IPCAM");
  return info;
}

// Owns one context; released at the end of the test.
struct Client {
  Client() {
    DDNSClientInitInfo info = DefaultInitInfo();
    result = DDNSClient_Initial(&context, &info);
  }
  ~Client() { DDNSClient_Release(&context); }
  Client(const Client &) = delete;
  Client &operator=(const Client &) = delete;
  DDNSClientContext *operator->() { return context; }
  DDNSClientContext *context = nullptr;
  uint32_t result = 0xFFFFFFFFu;
};

inline DDNSClientSettings HLDMSettings(const std::string &host, const std::string &email,
                                       const std::string &key, const std::string &server,
                                       uint32_t flags) {
  DDNSClientSettings s;
  std::memset(&s, 0, sizeof s);
  s.dwFlags = flags;
  s.dwServiceProvider = 5;
  std::snprintf(s.szHostName, sizeof s.szHostName, "%s", host.c_str());
  std::snprintf(s.szUserName, sizeof s.szUserName, "%s", email.c_str());
  std::snprintf(s.szPassword, sizeof s.szPassword, "%s", key.c_str());
  std::snprintf(s.szHLDMServerName, sizeof s.szHLDMServerName, "%s", server.c_str());
  return s;
}

// The settings of an update-type operation: enabled, the provider, host
// name, user name and password (HTTP port 80, nothing else flagged).
inline DDNSClientSettings UpdateSettings(uint32_t provider, const char *host = "cam.example.net",
                                         const char *user = "user", const char *password = "pass") {
  DDNSClientSettings s;
  std::memset(&s, 0, sizeof s);
  s.dwFlags = DDNSCLIENT_FLAG_ENABLE | DDNSCLIENT_FLAG_PROVIDER | DDNSCLIENT_FLAG_HOSTNAME |
              DDNSCLIENT_FLAG_USERNAME | DDNSCLIENT_FLAG_PASSWORD;
  s.dwEnable = 1;
  s.dwServiceProvider = provider;
  std::snprintf(s.szHostName, sizeof s.szHostName, "%s", host);
  std::snprintf(s.szUserName, sizeof s.szUserName, "%s", user);
  std::snprintf(s.szPassword, sizeof s.szPassword, "%s", password);
  s.wHTTPAlternativePort = 80;
  return s;
}

// Standard output of `body` (stdio flushed on both sides).
template <typename Body>
std::string CaptureOut(Body body) {
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  body();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

}  // namespace ddnstest

#endif  // NAMREG_TESTS_DDNSCLIENT_CLIENT_FIXTURE_H
