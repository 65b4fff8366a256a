// ddnsclient: the client context and the provider table, shared by the
// library's source files (and by the library's own tests).
#ifndef NAMREG_DDNSCLIENT_INTERNAL_H
#define NAMREG_DDNSCLIENT_INTERNAL_H

#include <namreg/ddnsclient.h>
#include <namreg/httpclient.h>
#include <namreg/osal.h>

#include <stdint.h>

#define DDNSCLIENT_HLDM_SALT_LENGTH 10u

struct DDNSClientContext {
  OSThreadKeyHandle hThreadKey;
  OSSemaphoreHandle hSemaphore;
  HTTPClientContext *pHTTPClient;
  uint32_t dwEnabled;
  uint32_t dwServiceProvider;
  char szHostName[128];
  char szUserName[64];
  char szPassword[64];
  uint32_t dwSettingsFlags;
  uint32_t dwUpdateInterval;  // minutes
  uint32_t dwCheckIPPortSwitch;
  uint32_t dwUpdatePortSwitch;
  char szDDNSServerName[64];
  char szMAC[13];
  char szFirmwareVersion[32];
  uint32_t dwPublicIPSource;  // 1 check-IP routine, 2 external address
  uint32_t dwLastIP;          // network byte order
  char szCurrentIP[16];
  uint32_t dwCheckIPSlot;
  uint32_t adwLastUpdateTick[DDNSCLIENT_PROVIDER_COUNT];
  uint32_t dwNetworkTimeout;  // seconds
  DDNSClientSettings tLastSettings;
  char szResponse[DDNSCLIENT_RESPONSE_SIZE + 1];
  // HLDM exchange
  char szSalt[DDNSCLIENT_HLDM_SALT_LENGTH + 1];
  char szHashedPassword[33];
  // GnuDIP exchange (the salt above is shared with it)
  char szTime[11];
  char szSign[33];
  char szHLDMServerName[64];
  char szHLDMEmail[64];
  char szHLDMKey[64];
  char szHLDMHostName[128];
  uint16_t wHTTPAlternativePort;
  uint32_t dwHTTPAlternativePortPresent;
  uint16_t wCheckIPPort;
  uint16_t wUpdatePort;
  char szProviderText1[256];
  char szProviderText2[256];
  char szMegaChipsText[64];
  char szProvider7Text[64];
};

typedef uint32_t (*DDNSClientRoutine)(DDNSClientContext *context);

struct DDNSServiceInfo {
  uint32_t dwMinInterval;        // minutes
  DDNSClientRoutine pfnUpdate;   // null: none
  DDNSClientRoutine pfnCheckIP;  // null: none
  uint8_t bHasUpdate;            // the provider defines an update routine
  uint8_t bHasCheckIP;           // the provider defines a check-IP routine
};

extern const DDNSServiceInfo g_tDDNSServiceInfo[DDNSCLIENT_PROVIDER_COUNT];

// Bounded copy: at most size - 1 characters, always terminated.
void DDNSClient_CopyText(char *dest, const char *src, uint32_t size);

#endif  // NAMREG_DDNSCLIENT_INTERNAL_H
