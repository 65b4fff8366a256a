/* SPDX-License-Identifier: MIT */
/* The public header used from C: records, result codes and operations. */
#include <namreg/ddnsclient.h>

#include <stdio.h>
#include <string.h>

static int failures = 0;

#define CHECK(cond)                                              \
  do {                                                           \
    if (!(cond)) {                                               \
      fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                \
    }                                                            \
  } while (0)

int main(void) {
  DDNSClientInitInfo info;
  DDNSClientSettings settings;
  DDNSClientContext *context = NULL;
  uint32_t address = 0;
  char text[16];
  char host[16];
  char domain[16];
  unsigned char bytes[4];

  memset(&info, 0, sizeof info);
  info.dwVersion = 0x00000D01u;
  strcpy(info.szMAC, "024D52000000");
  strcpy(info.szFirmwareVersion, "IPCAM");
  CHECK(DDNSClient_Initial(&context, &info) == DDNSCLIENT_E_VERSION);
  CHECK(context == NULL);

  info.dwVersion = DDNSCLIENT_VERSION;
  CHECK(DDNSClient_Initial(&context, &info) == DDNSCLIENT_OK);
  CHECK(context != NULL);
  CHECK(DDNSClient_SetExternalIP(context, 2, "0.0.0.0") == DDNSCLIENT_E_INVALID_ARGS);
  CHECK(DDNSClient_SetExternalIP(context, 2, "192.0.2.1") == DDNSCLIENT_OK);
  CHECK(DDNSClient_CheckNecessaryFlag(context) == 0);

  memset(&settings, 0, sizeof settings);
  settings.dwFlags = DDNSCLIENT_FLAG_PROVIDER | DDNSCLIENT_FLAG_HOSTNAME |
                     DDNSCLIENT_FLAG_USERNAME | DDNSCLIENT_FLAG_PASSWORD |
                     DDNSCLIENT_FLAG_HLDM_SERVER;
  settings.dwServiceProvider = 3;
  strcpy(settings.szHostName, "cam.example");
  CHECK(DDNSClient_HLDMRegister(context, &settings, 5, &address) == DDNSCLIENT_E_INVALID_ARGS);
  CHECK(DDNSClient_SetParameters(context, &settings) == DDNSCLIENT_OK);
  CHECK(DDNSClient_IsSettingsChanged(context, &settings) == 1);

  CHECK(DDNSClient_GetIP("retc=0:10.1.2.3:", "retc=0:", text) == 0);
  CHECK(strcmp(text, "10.1.2.3") == 0);
  CHECK(DDNSClient_ExtractDomain("a.b.c", 5, host, domain) == DDNSCLIENT_OK);
  CHECK(strcmp(host, "a") == 0 && strcmp(domain, "b.c") == 0);
  CHECK(DDNSClient_HexToBytes("0aFF", bytes) == 2 && bytes[0] == 0x0A && bytes[1] == 0xFF);
  CHECK(DDNSClient_IsValidServiceProv(DDNSCLIENT_PROVIDER_HLDM) == 1);
  CHECK(DDNSClient_IsTimeout(DDNSClient_GetTickMs(), 60, NULL) == 0);
  CHECK(HALDStrCodec_GetEncodeSize(247) == 500);

  CHECK(DDNSClient_Release(&context) == DDNSCLIENT_OK);
  CHECK(context == NULL);
  if (failures == 0) printf("1 passed, 0 failed\n");
  return failures == 0 ? 0 : 1;
}
