// FormatBounded against snprintf into a buffer large enough, for every
// capacity from 0 to two past the text's length: the status, the text kept
// and the NUL, with each buffer exactly as large as the capacity, so that
// any write past it is caught.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "talvek.h"

#define CHECK(condition) \
  if (!(condition)) abort()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Pieces split at NUL: the format, then up to three string arguments.
  std::vector<std::string> pieces(4);
  size_t piece = 0;
  for (size_t i = 0; i < size && piece < 4; i++) {
    if (data[i] == 0) {
      piece++;
    } else {
      pieces[piece] += (char)data[i];
    }
  }
  // Only "%s" (three at most) and "%%" may reach the formatter.
  std::string format;
  int places = 0;
  const std::string &raw = pieces[0];
  for (size_t i = 0; i < raw.size(); i++) {
    if (raw[i] != '%') {
      format += raw[i];
    } else if (i + 1 < raw.size() && raw[i + 1] == 's' && places < 3) {
      format += "%s";
      places++;
      i++;
    } else {
      format += "%%";
    }
  }
  const char *a = pieces[1].c_str(), *b = pieces[2].c_str(),
             *c = pieces[3].c_str();
  int needed = snprintf(NULL, 0, format.c_str(), a, b, c);
  CHECK(needed >= 0);
  std::vector<char> reference((size_t)needed + 1);
  snprintf(reference.data(), reference.size(), format.c_str(), a, b, c);
  std::string text(reference.data(), (size_t)needed);

  for (size_t capacity = 0; capacity <= text.size() + 2; capacity++) {
    char *buffer = (char *)malloc(capacity > 0 ? capacity : 1);
    buffer[0] = '#';
    unsigned long status =
        FormatBounded(buffer, capacity, format.c_str(), a, b, c);
    if (capacity == 0) {
      CHECK(status == FormatRefused && buffer[0] == '#');
    } else {
      size_t kept = text.size() < capacity ? text.size() : capacity - 1;
      CHECK(status == (text.size() < capacity ? FormatFitted : FormatCut));
      CHECK(memcmp(buffer, text.data(), kept) == 0 && buffer[kept] == '\0');
    }
    free(buffer);
  }
  char small[1] = {'#'};
  CHECK(FormatBounded(small, 2147483648u, format.c_str(), a, b, c) ==
            FormatRefused &&
        small[0] == '#');
  return 0;
}
