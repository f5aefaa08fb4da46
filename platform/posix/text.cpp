// Words and numbers for people: escaped names, sizes, changes and times.
// Integer arithmetic only, so that every figure rounds the same way on
// every machine.
#include "text.h"

#include <stdio.h>
#include <string.h>

namespace {

// The length of the valid UTF-8 character at p that is no C1 control, or
// 0: overlong forms, surrogates and code points past U+10FFFF are invalid.
size_t CharacterLength(const unsigned char *p) {
  unsigned char c = p[0], low = 0x80, high = 0xBF;
  size_t length;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
    if (c == 0xC2) low = 0xA0;  // U+0080 to U+009F are the C1 controls
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (p[1] < low || p[1] > high) return 0;
  for (size_t i = 2; i < length; i++) {
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  }
  return length;
}

// A number of tenths as "12.3 unit".
void Tenths(char *out, size_t capacity, unsigned long long tenths,
            const char *unit) {
  snprintf(out, capacity, "%llu.%llu %s", tenths / 10, tenths % 10,
                  unit);
}

}  // namespace

namespace text {

size_t EscapeName(const char *name, char *out, size_t capacity,
                  bool markup) {
  if (capacity == 0) return 0;
  const unsigned char *p = reinterpret_cast<const unsigned char *>(name);
  size_t length = 0;
  while (*p != 0) {
    char piece[8];
    const char *add = piece;
    size_t size, step = 1;
    size_t character = *p >= 0x80 ? CharacterLength(p) : 1;
    if (*p == '\\') {
      add = "\\\\";
      size = 2;
    } else if (*p < 0x20 || *p == 0x7F || character == 0) {
      size = (size_t)snprintf(piece, sizeof piece, "\\x%02x", *p);
    } else if (markup && *p == '&') {
      add = "&amp;";
      size = 5;
    } else if (markup && (*p == '<' || *p == '>')) {
      add = *p == '<' ? "&lt;" : "&gt;";
      size = 4;
    } else {
      add = reinterpret_cast<const char *>(p);
      size = step = character;
    }
    if (length + size >= capacity) break;
    memcpy(out + length, add, size);
    length += size;
    p += step;
  }
  out[length] = '\0';
  return length;
}

size_t Columns(const char *text) {
  size_t columns = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
       *p != 0; p++) {
    if ((*p & 0xC0) != 0x80) columns++;
  }
  return columns;
}

void FormatSize(unsigned long long bytes, char *out, size_t capacity) {
  if (bytes < 10000) {
    snprintf(out, capacity, "%llu B", bytes);
    return;
  }
  static const char *const units[] = {"kB", "MB", "GB", "TB", "PB"};
  unsigned long long scale = 1000, tenths;
  size_t unit = 0;
  // The next unit takes over where this one would show 1000.0.
  while ((tenths = (bytes + scale / 20) / (scale / 10)) >= 10000 &&
         unit + 1 < sizeof units / sizeof units[0]) {
    scale *= 1000;
    unit++;
  }
  Tenths(out, capacity, tenths, units[unit]);
}

void FormatChange(unsigned long long before, unsigned long long after,
                  char *out, size_t capacity) {
  if (before == after || before == 0) {
    snprintf(out, capacity, "the same size");
    return;
  }
  bool smaller = after < before;
  unsigned long long change = smaller ? before - after : after - before;
  unsigned long long tenths = (change * 1000 + before / 2) / before;
  const char *word = smaller ? "smaller" : "larger";
  if (tenths == 0) {
    snprintf(out, capacity, "under 0.1 %% %s", word);
  } else if (tenths < 100) {
    Tenths(out, capacity, tenths, "%");
    size_t length = strlen(out);
    snprintf(out + length, capacity > length ? capacity - length : 0, " %s",
             word);
  } else {
    snprintf(out, capacity, "%llu %% %s", (change * 100 + before / 2) / before,
             word);
  }
}

void FormatTime(unsigned long long milliseconds, char *out,
                size_t capacity) {
  unsigned long long tenths = (milliseconds + 50) / 100;
  if (tenths < 600) {
    Tenths(out, capacity, tenths, "s");
    return;
  }
  unsigned long long seconds = (milliseconds + 500) / 1000;
  if (seconds < 3600) {
    snprintf(out, capacity, "%llu min %02llu s", seconds / 60, seconds % 60);
  } else {
    unsigned long long minutes = (seconds + 30) / 60;
    snprintf(out, capacity, "%llu h %02llu min", minutes / 60, minutes % 60);
  }
}

}  // namespace text
