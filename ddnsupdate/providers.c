/* SPDX-License-Identifier: MIT */
#include "providers.h"

#include <namreg/ddnsclient.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#define UP (DD_NEEDS_USER | DD_NEEDS_PASSWORD)

/* Slots of the general check-IP rotation: 0 No-IP, 2 DynDNS, 3 TZO. */
static const struct dd_provider kProviders[] = {
    {"dyndns", 1, UP, DD_KIND_ENGINE_GENERAL, 2, 10},
    {"dyndns-custom", 2, UP, DD_KIND_ENGINE_GENERAL, 2, 10},
    {"tzo", 3, UP, DD_KIND_ENGINE_GENERAL, 3, 1},
    {"dhs", 4, UP, DD_KIND_ENGINE_GENERAL, 0, 8},
    {"hldm", 5, UP, DD_KIND_ENGINE_OWN, 0, 5},
    {"interfree", 6, UP, DD_KIND_ENGINE_GENERAL, 0, 5},
    {"iodata", 7, UP | DD_TAKES_EMAIL, DD_KIND_ENGINE_OWN, 0, 10},
    {"dynamicdo", 8, UP, DD_KIND_ENGINE_OWN, 0, 10},
    {"mydns", 9, UP, DD_KIND_ENGINE_GENERAL, 0, 5},
    {"dyndns-server", 10, UP | DD_NEEDS_SERVER, DD_KIND_ENGINE_GENERAL, 2, 10},
    {"dp21", 11, UP, DD_KIND_ENGINE_GENERAL, 0, 5},
    {"atnethome", 12, UP, DD_KIND_ENGINE_GENERAL, 0, 5},
    {"pcicybergate", 15, UP, DD_KIND_ENGINE_GENERAL, 0, 5},
    {"pcicybergate-2", 16, UP, DD_KIND_ENGINE_GENERAL, 0, 5},
    {"pcicybergate-3", 17, UP, DD_KIND_ENGINE_GENERAL, 0, 5},
    {"pcicybergate-4", 18, UP, DD_KIND_ENGINE_GENERAL, 0, 5},
    {"nexuscontrol", 19, UP, DD_KIND_ENGINE_OWN, 0, 10},
    {"peanuthull", 20, UP, DD_KIND_PEANUTHULL, 0, 1},
    {"dynamicdo-free", 21, UP, DD_KIND_ENGINE_OWN, 0, 10},
    {"pccw", 23, UP | DD_NEEDS_SERVER | DD_NEEDS_PCCW, DD_KIND_ENGINE_OWN, 0, 5},
    {"hldm2", 24, UP, DD_KIND_ENGINE_OWN, 0, 5},
    {"megachips", 25, UP | DD_TAKES_CURRENT, DD_KIND_MEGACHIPS, 0, 10},
    {"dyndns-server-2", 26, UP | DD_NEEDS_SERVER, DD_KIND_ENGINE_GENERAL, 2, 10},
    {"dyndns-server-3", 27, UP | DD_NEEDS_SERVER, DD_KIND_ENGINE_GENERAL, 2, 10},
    {"logitec", 28, UP, DD_KIND_ENGINE_GENERAL, 0, 10},
    {"dyndns-server-4", 29, UP | DD_NEEDS_SERVER, DD_KIND_ENGINE_GENERAL, 2, 10},
    {"huagai", 30, UP, DD_KIND_ENGINE_OWN, 0, 10},
    {"3322", 31, UP, DD_KIND_ENGINE_GENERAL, 0, 10},
    {"changeip", 33, UP, DD_KIND_ENGINE_OWN, 0, 10},
    {"dyndns-server-5", 34, UP | DD_NEEDS_SERVER, DD_KIND_ENGINE_GENERAL, 2, 10},
    {"swisscom", 35, UP | DD_NEEDS_CAMERA, DD_KIND_ENGINE_OWN, 0, 1},
    {"tzo-server", 36, UP | DD_NEEDS_SERVER, DD_KIND_ENGINE_GENERAL, 3, 1},
    {"dyndns2", 0, UP | DD_NEEDS_SERVER | DD_TAKES_PATH, DD_KIND_DYNDNS2, 2, 1},
    {"url", 0, DD_NEEDS_URL, DD_KIND_URL, 2, 1},
};

const struct dd_provider *dd_find_provider(const char *text) {
  const size_t count = sizeof kProviders / sizeof kProviders[0];
  if (text == NULL || text[0] == '\0') return NULL;
  if (strspn(text, "0123456789") == strlen(text)) {
    if (strlen(text) > 2) return NULL;
    const unsigned long number = strtoul(text, NULL, 10);
    for (size_t i = 0; i < count; ++i)
      if (kProviders[i].number != 0 && kProviders[i].number == number) return &kProviders[i];
    return NULL;
  }
  for (size_t i = 0; i < count; ++i)
    if (strcasecmp(text, kProviders[i].name) == 0) return &kProviders[i];
  return NULL;
}

void dd_list_providers(FILE *out) {
  fputs("name             number  needs\n", out);
  for (size_t i = 0; i < sizeof kProviders / sizeof kProviders[0]; ++i) {
    const struct dd_provider *p = &kProviders[i];
    char number[12] = "-";
    if (p->number != 0) snprintf(number, sizeof number, "%u", (unsigned)p->number);
    fprintf(out, "%-16s %6s  ", p->name, number);
    const char *sep = "";
    static const struct {
      unsigned bit;
      const char *words;
    } kWords[] = {
        {DD_NEEDS_USER, "user"},
        {DD_NEEDS_PASSWORD, "password"},
        {DD_NEEDS_SERVER, "server"},
        {DD_NEEDS_PCCW, "checkip-port, update-port, checkip-path, update-path"},
        {DD_NEEDS_CAMERA, "camera-mac, camera-address, camera-port"},
        {DD_NEEDS_URL, "url, success (failure optional)"},
        {DD_TAKES_EMAIL, "email (optional)"},
        {DD_TAKES_CURRENT, "current-password (optional)"},
        {DD_TAKES_PATH, "port and path (optional)"},
    };
    for (size_t w = 0; w < sizeof kWords / sizeof kWords[0]; ++w) {
      if ((p->needs & kWords[w].bit) == 0) continue;
      fprintf(out, "%s%s", sep, kWords[w].words);
      sep = ", ";
    }
    fputc('\n', out);
  }
}
