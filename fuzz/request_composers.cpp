// SPDX-License-Identifier: MIT
// The provider request composers with hostile field values.  Input: one
// byte choosing a request form of the adapters, then the values, each
// ended by a 0xFF byte.  Whatever the values hold, a request the composer
// lets through holds no control byte, no blank and nothing outside the
// query alphabet; the form's own text stands as it is; every value reads
// back exactly (a prefix when the request was cut at 255 characters), so
// no value can add, end or override a query field; and a value with a
// control byte is refused, with nothing to send.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "provider_internal.h"

namespace {

struct Form {
  const char *path;    // a caller's path before the query, or null
  const char *format;  // the adapter's format: %s values, %.*s bounded values, %d
  int values;
};

// The shapes of the adapters' requests (a value first, a value last, a
// caller's path, bounded values and a number).
constexpr Form kForms[] = {
    {nullptr, "/nic/update?system=%s&hostname=%s&myip=%s", 3},
    {nullptr, "/webclient/tzoperl.html?TZOName=%s&Email=%s&TZOKey=%s&CType=3&IPAddress=%s", 4},
    {nullptr, "/dnsupdate.php?dn=%s&pw=%s&ip=%s", 3},
    {nullptr, "/cgi-bin/ddns_s/registdns.cgi?sno=%s&pw=%s&eml=%s&host=%s&reg=0", 4},
    {"", "?host=%s&addr=%s&username=%s&password=%s", 4},
    {"", "?salt=%s&time=%s&sign=%s&user=%s&pass=%s&domn=%s&reqc=0&addr=%s", 7},
    {nullptr, "/?mac=%.*s&ip=%.*s&port=%d", 2},
};

bool InQueryAlphabet(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         strchr("-._~@:%", c) != nullptr;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // lower-case digits are never written
}

bool HoldsControlByte(const std::string &text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

// Reads one encoded value from `out` at *at (up to the next byte outside
// the query alphabet), decoded; aborts on a malformed escape.
std::string ReadValue(const char *out, size_t *at, bool path) {
  std::string value;
  for (;;) {
    const char c = out[*at];
    if (c == '%') {
      const int high = HexValue(out[*at + 1]);
      const int low = high < 0 ? -1 : HexValue(out[*at + 2]);
      if (low < 0) abort();  // a cut or malformed escape
      value += static_cast<char>(high * 16 + low);
      *at += 3;
    } else if (c != '\0' && (InQueryAlphabet(c) || (path && c == '/'))) {
      value += c;
      ++*at;
    } else {
      return value;
    }
  }
}

bool IsPrefix(const std::string &part, const std::string &whole) {
  return part.size() <= whole.size() && whole.compare(0, part.size(), part) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 2048) return 0;
  const Form &form = kForms[data[0] % (sizeof kForms / sizeof kForms[0])];
  std::vector<std::string> fields(8);
  size_t field = 0;
  for (size_t i = 1; i < size && field < fields.size(); ++i) {
    if (data[i] == 0xFF)
      ++field;
    else if (data[i] != 0)  // a value is a C string
      fields[field] += static_cast<char>(data[i]);
  }
  const std::string &path = fields[7];
  const int number = static_cast<int>(data[0]) - 100;

  char request[namreg::kRequestSize];
  memset(request, 'X', sizeof request);
  bool composed;
  if (form.path != nullptr) {
    composed =
        form.values == 4
            ? namreg::ComposePathRequest(request, path.c_str(), form.format, fields[0].c_str(),
                                         fields[1].c_str(), fields[2].c_str(), fields[3].c_str())
            : namreg::ComposePathRequest(request, path.c_str(), form.format, fields[0].c_str(),
                                         fields[1].c_str(), fields[2].c_str(), fields[3].c_str(),
                                         fields[4].c_str(), fields[5].c_str(), fields[6].c_str());
  } else if (form.values == 2) {
    composed = namreg::ComposeRequest(request, form.format, 14, fields[0].c_str(), 16,
                                      fields[1].c_str(), number);
  } else if (form.values == 3) {
    composed = namreg::ComposeRequest(request, form.format, fields[0].c_str(), fields[1].c_str(),
                                      fields[2].c_str());
  } else {
    composed = namreg::ComposeRequest(request, form.format, fields[0].c_str(), fields[1].c_str(),
                                      fields[2].c_str(), fields[3].c_str());
  }

  // Which values the form takes, as the composer saw them.
  std::vector<std::string> values;
  for (int i = 0; i < form.values; ++i)
    values.push_back(form.values == 2 ? fields[i].substr(0, i == 0 ? 14 : 16) : fields[i]);
  bool hostile = form.path != nullptr && HoldsControlByte(path);
  for (const std::string &v : values) hostile = hostile || HoldsControlByte(v);

  const size_t length = strnlen(request, sizeof request);
  if (length == sizeof request) abort();  // never unterminated
  if (!composed) {
    if (!hostile || length != 0) abort();  // refused only for a control byte, and emptied
    return 0;
  }
  if (hostile) abort();
  if (length > 255) abort();
  for (size_t i = 0; i < length; ++i)
    if (static_cast<unsigned char>(request[i]) <= 0x20 || request[i] == 0x7F) abort();

  // Walk the form: its text as it stands, each value decoded back.
  // A request cut at 255 characters ends up to two short of it when the
  // last escape did not fit whole.
  const bool cut = length >= 253;
  size_t at = 0;
  if (form.path != nullptr) {
    const std::string read = ReadValue(request, &at, true);
    if (read != path && !(cut && request[at] == '\0' && IsPrefix(read, path))) abort();
  }
  int next = 0;
  for (const char *f = form.format; *f != '\0'; ++f) {
    if (*f != '%') {
      if (request[at] == '\0') {
        if (!cut) abort();  // only a cut request ends early
        return 0;
      }
      if (request[at++] != *f) abort();
      continue;
    }
    ++f;
    if (*f == '.') f += 2;  // %.*s
    if (*f == 'd') {
      const std::string digits = std::to_string(number);
      if (strncmp(request + at, digits.c_str(), digits.size()) != 0 &&
          !(cut && IsPrefix(request + at, digits)))
        abort();
      at += strnlen(request + at, digits.size());
      continue;
    }
    const std::string read = ReadValue(request, &at, false);
    const std::string &value = values[static_cast<size_t>(next++)];
    if (read != value && !(cut && request[at] == '\0' && IsPrefix(read, value))) abort();
  }
  if (request[at] != '\0') abort();
  return 0;
}
