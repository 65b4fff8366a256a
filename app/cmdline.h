// SPDX-License-Identifier: MIT
// namreg front end: what the command line and the environment gave.
#ifndef NAMREG_APP_CMDLINE_H
#define NAMREG_APP_CMDLINE_H

#include <stddef.h>

// Default HLDM DDNS server host (the -s default); the build sets it from its
// NAMREG_DEFAULT_SERVER setting.
#ifndef NAMREG_DEFAULT_SERVER
#define NAMREG_DEFAULT_SERVER "ddns.namreg.example"
#endif

struct CommandLine {
  const char *quickbridge;  // -a value (UPnP NAT status), null when absent
  bool check;               // -c
  bool forget;              // -f
  bool reg;                 // -r
  const char *key;          // -k value, null when absent
  const char *server;       // -s value, null when absent
  const char *host_name;    // first positional argument
  const char *email;        // second positional argument
  char mac[13];             // MAC_ADDR compacted to 12 characters
  char firmware[32];        // FW_VERSION (or "IPCAM"), at most 31 characters
};

// Start-up, one HLDM operation, outcome line; returns the exit status.
// Syslog is already open with the ident the options selected.
int RunOperation(const CommandLine &cmd);

#endif  // NAMREG_APP_CMDLINE_H
