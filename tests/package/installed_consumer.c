/* SPDX-License-Identifier: MIT */
/* A C program built against an installed copy of the libraries. */
#include <namreg/common.h>
#include <namreg/ddnsclient.h>
#include <namreg/httpclient.h>
#include <namreg/netutility.h>
#include <namreg/osal.h>
#include <namreg/version.h>
#include <stdio.h>
#include <string.h>

int main(void) {
  char hex[33];
  char version[32];
  OSSemaphoreHandle sem = NULL;
  MD5_StringHex(hex, "abc");
  if (strcmp(hex, "900150983cd24fb0d6963f7d28e17f72") != 0) return 2;
  if (!NetUtility_IsValidIP("192.0.2.1", 9)) return 3;
  if (HALDStrCodec_GetEncodeSize(3) != 8) return 4;
  if (OSSemaphore_Initial(&sem, 1, 1) != 0 || OSSemaphore_Get(sem, 0) != 0) return 5;
  OSSemaphore_Release(&sem);
  /* The version text and the packed word say the same. */
  snprintf(version, sizeof version, "%lu.%lu.%lu.%lu", NAMREG_VERSION_WORD & 0xFFu,
           (NAMREG_VERSION_WORD >> 8) & 0xFFu, (NAMREG_VERSION_WORD >> 16) & 0xFFu,
           NAMREG_VERSION_WORD >> 24);
  if (strcmp(version, NAMREG_VERSION) != 0) return 6;
  puts("installed libraries work");
  return 0;
}
