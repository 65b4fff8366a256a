// SPDX-License-Identifier: MIT
// namreg: registers a camera's host name with the HLDM DDNS service, asks it
// to e-mail a forgotten key, or checks whether a host name is free.
//
// This file reads the command line and the environment; RunOperation
// (startup.cpp) does the one operation and reports its outcome.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

#include "cmdline.h"
#include "namreg/common.h"
#include "namreg/version.h"

namespace {

constexpr uint32_t kNamregVersion = NAMREG_VERSION_WORD;
constexpr uint32_t kDDNSClientVersion = 0x00000D02;  // 2.13.0.0
constexpr uint32_t kHTTPClientVersion = 0x00000701;  // 1.7.0.0
constexpr const char kDefaultMac[] = "02:4D:52:00:00:00";
constexpr const char kDefaultFirmware[] = "IPCAM";

// Version word as "a.b.c.d", low byte first.
void FormatVersion(uint32_t version, char out[16]) {
  snprintf(out, 16, "%d.%d.%d.%d", static_cast<int>(version & 0xFF),
           static_cast<int>((version >> 8) & 0xFF), static_cast<int>((version >> 16) & 0xFF),
           static_cast<int>((version >> 24) & 0xFF));
}

[[noreturn]] void PrintVersion() {
  char text[16];
  FormatVersion(kNamregVersion, text);
  printf("namreg version: %s\n", text);
  FormatVersion(kDDNSClientVersion, text);
  printf("DDNSClient module version: %s\n", text);
  FormatVersion(kHTTPClientVersion, text);
  printf("HTTPClient module version: %s\n", text);
  printf("Free software for IP cameras; no warranty of any kind.\n");
  exit(0);
}

[[noreturn]] void PrintUsage() {
  fputs(
      "\n"
      "DDNS register/request key client for HLDM DDNS\n"
      "Usage:\n"
      "    namreg [-h] [-V] [-c] [-s server name] [-f] [-r] [-k key] [-a upnpnatstatus] hostname "
      "email\n"
      "Options:\n"
      "    -s    Server name, without this option, system will use default value\n"
      "          (" NAMREG_DEFAULT_SERVER
      " for HLDM now). \n"
      "    -f    Forget key, ask the server to send a email with key.\n"
      "    -r    Register. -k must be set. \n"
      "    -k    The key. \n"
      "    -V    Get program version.\n"
      "    -h    This help. \n"
      "    -c    Check the hostname. \n"
      "    -a    To enable advanced DDNS \n"
      "\n",
      stdout);
  exit(1);
}

[[noreturn]] void Refuse(const char *line) {
  Log_Syslog(LOG_ALERT, "%s", line);
  PrintUsage();
}

// "aa:bb:cc:dd:ee:ff" -> "aabbccddeeff".  Separators are not checked here
// (the client validates the result); a text shorter than 17 characters gives
// a shorter result, and nothing past its end is read.
void CompactMACAddress(const char *text, char out[13]) {
  static constexpr unsigned char kPositions[12] = {0, 1, 3, 4, 6, 7, 9, 10, 12, 13, 15, 16};
  const size_t length = strnlen(text, 17);
  size_t n = 0;
  for (unsigned char pos : kPositions) {
    if (pos >= length) break;
    out[n++] = text[pos];
  }
  out[n] = '\0';
}

}  // namespace

int main(int argc, char **argv) {
  CommandLine cmd;
  memset(&cmd, 0, sizeof cmd);

  opterr = 0;  // unknown options answer with the usage text alone
  int option;
  while ((option = getopt(argc, argv, "a:h?Vs:frck:")) != -1) {
    switch (option) {
      case 'a':
        cmd.quickbridge = optarg;
        break;
      case 'c':
        cmd.check = true;
        break;
      case 'f':
        cmd.forget = true;
        break;
      case 'k':
        cmd.key = optarg;
        break;
      case 'r':
        cmd.reg = true;
        break;
      case 's':
        cmd.server = optarg;
        break;
      case 'V':
        PrintVersion();
      default:
        PrintUsage();  // -h, -? and anything not in the option string
    }
  }

  openlog(cmd.quickbridge ? "[quickbridge]" : "[NAMREG]", 0, LOG_USER);

  if (!cmd.forget && !cmd.reg && !cmd.check)
    Refuse("You must specify register [-r] or request key [-f]");
  if (cmd.reg && !cmd.key) Refuse("Register [-r] must set key with [-k]");
  if (cmd.quickbridge && (cmd.forget || cmd.check) && !cmd.reg)
    Refuse("quickbridge -a must set with [-r]");
  if (argc - optind != 2) Refuse("Wrong number of arguments");
  cmd.host_name = argv[optind];
  cmd.email = argv[optind + 1];

  const char *mac = getenv("MAC_ADDR");
  CompactMACAddress(mac ? mac : kDefaultMac, cmd.mac);
  const char *firmware = getenv("FW_VERSION");
  snprintf(cmd.firmware, sizeof cmd.firmware, "%s", firmware ? firmware : kDefaultFirmware);

  const int status = RunOperation(cmd);
  closelog();
  return status;
}
