/* SPDX-License-Identifier: MIT */
/*
 * Embedding example: a camera's own program registers its host name with an
 * HLDM DDNS server, or checks whether the name is free, through the
 * libraries' C interface.
 *
 *   register_camera server mac hostname email key
 *   register_camera -c server mac hostname
 *
 * mac is 12 hexadecimal digits ("0011aabbccdd").  Without -c it registers
 * the host name for the owner's e-mail address and key and prints the
 * address the server registered; with -c it prints whether the name is free,
 * another camera's or this one's.
 *
 * Build against an installed copy with CMake (find_package(namreg CONFIG),
 * target namreg::namreg; see CMakeLists.txt beside this file) or with
 * pkg-config:  cc register_camera.c $(pkg-config --cflags --libs namreg)
 */
#include <namreg/ddnsclient.h>
#include <namreg/version.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>

/* Every wait of one operation stays within this many seconds. */
#define OPERATION_TIMEOUT_SECONDS 30u

/* Bounded copy into a record's fixed-size text field. */
static void copy_text(char *dest, size_t size, const char *src) {
  snprintf(dest, size, "%s", src);
}

static int usage(void) {
  fprintf(stderr,
          "usage: register_camera server mac hostname email key\n"
          "       register_camera -c server mac hostname\n");
  fprintf(stderr, "(namreg libraries %s)\n", NAMREG_VERSION);
  return 2;
}

int main(int argc, char **argv) {
  int check = 0;
  if (argc > 1 && strcmp(argv[1], "-c") == 0) {
    check = 1;
    --argc;
    ++argv;
  }
  if (argc != (check ? 4 : 6)) return usage();
  const char *server = argv[1], *mac = argv[2], *host = argv[3];

  /* The context: interface version, MAC and firmware text. */
  DDNSClientInitInfo init;
  memset(&init, 0, sizeof init);
  init.dwVersion = DDNSCLIENT_VERSION;
  copy_text(init.szMAC, sizeof init.szMAC, mac);
  copy_text(init.szFirmwareVersion, sizeof init.szFirmwareVersion, "EXAMPLE-CAM");
  DDNSClientContext *context = NULL;
  uint32_t result = DDNSClient_Initial(&context, &init);
  if (result != DDNSCLIENT_OK) {
    fprintf(stderr, "DDNSClient_Initial failed: 0x%08lX%s\n", (unsigned long)result,
            result == DDNSCLIENT_E_INVALID_MAC ? " (invalid MAC)" : "");
    return 1;
  }

  /* The settings: every filled field is marked in dwFlags. */
  DDNSClientSettings settings;
  memset(&settings, 0, sizeof settings);
  settings.dwServiceProvider = DDNSCLIENT_PROVIDER_HLDM;
  copy_text(settings.szHostName, sizeof settings.szHostName, host);
  copy_text(settings.szHLDMServerName, sizeof settings.szHLDMServerName, server);
  settings.dwFlags =
      DDNSCLIENT_FLAG_PROVIDER | DDNSCLIENT_FLAG_HOSTNAME | DDNSCLIENT_FLAG_HLDM_SERVER;

  int status;
  if (check) {
    result = DDNSClient_HLDMCheckHostname(context, &settings, OPERATION_TIMEOUT_SECONDS);
    if (result == DDNSCLIENT_OK) {
      printf("%s is free\n", host);
      status = 0;
    } else if (result == DDNSCLIENT_I_HOSTNAME_OTHER_CAMERA) {
      printf("%s is used by another camera\n", host);
      status = 0;
    } else if (result == DDNSCLIENT_I_HOSTNAME_THIS_CAMERA) {
      printf("%s is this camera's\n", host);
      status = 0;
    } else {
      fprintf(stderr, "check failed: 0x%08lX%s\n", (unsigned long)result,
              result == DDNSCLIENT_E_NETWORK ? " (network error)" : "");
      status = 1;
    }
  } else {
    uint32_t address = 0;                                                /* network byte order */
    copy_text(settings.szUserName, sizeof settings.szUserName, argv[4]); /* e-mail */
    copy_text(settings.szPassword, sizeof settings.szPassword, argv[5]); /* key */
    settings.dwFlags |= DDNSCLIENT_FLAG_USERNAME | DDNSCLIENT_FLAG_PASSWORD;
    result = DDNSClient_HLDMRegister(context, &settings, OPERATION_TIMEOUT_SECONDS, &address);
    if (result == DDNSCLIENT_OK) {
      struct in_addr in;
      in.s_addr = address;
      printf("%s registered with address %s\n", host, inet_ntoa(in));
      status = 0;
    } else {
      fprintf(stderr, "register failed: 0x%08lX%s\n", (unsigned long)result,
              result == DDNSCLIENT_E_HOSTNAME_IN_USE ? " (host name in use)"
              : result == DDNSCLIENT_E_TOO_SOON      ? " (changed within ten minutes)"
              : result == DDNSCLIENT_E_NETWORK       ? " (network error)"
                                                     : "");
      status = 1;
    }
  }
  DDNSClient_Release(&context);
  return status;
}
