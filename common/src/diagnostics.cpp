// SPDX-License-Identifier: MIT
// Diagnostics: the syslog call and the level-masked debug print.
#include "namreg/common.h"

#include <syslog.h>

extern "C" {

uint32_t g_dwDbgLevel = 0;
DebugPrintHook g_pfnTelnetDbgPrint = Debug_NullPrint;
FILE *_db_fptr = nullptr;

}  // extern "C"

namespace {
bool g_debugInitialised = false;
}

extern "C" void Log_Syslog(int priority, const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsyslog(priority, format, args);
  va_end(args);
}

extern "C" void Debug_Init(uint32_t level, const char *file_name) {
  if (g_debugInitialised) return;
  g_debugInitialised = true;
  g_dwDbgLevel = level;
  printf("Debug Init:level = %d\r\n", static_cast<int>(level));
  if (file_name) {
    printf("%s", file_name);
    _db_fptr = fopen(file_name, "wb");
    if (!_db_fptr) _db_fptr = stdout;
  } else if (!_db_fptr) {
    _db_fptr = stdout;
  }
}

extern "C" void Debug_SetLevel(uint32_t level) {
  g_dwDbgLevel = level;
  printf("Change debug level to %d\r\n", static_cast<int>(level));
}

extern "C" void Debug_Print(uint32_t mask, const char *format, ...) {
  if ((mask & g_dwDbgLevel) == 0) return;
  va_list args;
  if (mask & DEBUG_MASK_TELNET) {
    DebugPrintHook hook = g_pfnTelnetDbgPrint;
    if (hook) {
      va_start(args, format);
      hook(format, args);
      va_end(args);
    }
  }
  // Before Debug_Init there is no stream: the file part is dropped rather
  // than written to a null FILE.
  if ((mask & DEBUG_MASK_FILE) && _db_fptr) {
    va_start(args, format);
    vfprintf(_db_fptr, format, args);
    va_end(args);
  }
}

extern "C" int Debug_TelnetPrint(const char *format, ...) {
  DebugPrintHook hook = g_pfnTelnetDbgPrint;
  if (!hook) return 0;
  va_list args;
  va_start(args, format);
  int r = hook(format, args);
  va_end(args);
  return r;
}

extern "C" int Debug_NullPrint(const char *, va_list) {
  return 0;
}
