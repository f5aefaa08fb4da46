// Joining and splitting Windows-style command lines.
#include "cmdline.h"

namespace cmdline {

namespace {

// Appends bytes to a bounded buffer, remembering whether any were lost.
struct Writer {
  char *out;
  size_t capacity;
  size_t length = 0;
  bool cut = false;

  void Put(char c) {
    if (length + 1 < capacity) {
      out[length++] = c;
    } else {
      cut = true;
    }
  }
  void Repeat(char c, size_t n) {
    while (n-- > 0) Put(c);
  }
};

bool NeedsQuotes(const char *argument) {
  if (*argument == '\0') return true;
  for (const char *p = argument; *p != '\0'; p++) {
    if (*p == ' ' || *p == '\t' || *p == '"') return true;
  }
  return false;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsProgramNameBlank(char c) {
  return (unsigned char)c >= 1 && (unsigned char)c <= 32;
}

}  // namespace

bool JoinCommandLine(char *out, size_t capacity, int count,
                     const char *const *arguments) {
  if (capacity == 0) return false;
  Writer w{out, capacity};

  // The program name: quoted whole if it holds any blank, quotes dropped.
  if (count > 0) {
    const char *name = arguments[0];
    bool quote = *name == '\0';
    for (const char *p = name; *p != '\0'; p++) {
      if (IsProgramNameBlank(*p)) quote = true;
    }
    if (quote) w.Put('"');
    for (const char *p = name; *p != '\0'; p++) {
      if (*p != '"') w.Put(*p);
    }
    if (quote) w.Put('"');
  }

  for (int i = 1; i < count; i++) {
    const char *argument = arguments[i];
    w.Put(' ');
    if (!NeedsQuotes(argument)) {
      for (const char *p = argument; *p != '\0'; p++) w.Put(*p);
      continue;
    }
    // Backslashes double only where a quote follows them.
    w.Put('"');
    size_t backslashes = 0;
    for (const char *p = argument;; p++) {
      if (*p == '\\') {
        backslashes++;
        continue;
      }
      if (*p == '\0') {
        w.Repeat('\\', backslashes * 2);
        break;
      }
      if (*p == '"') {
        w.Repeat('\\', backslashes * 2 + 1);
      } else {
        w.Repeat('\\', backslashes);
      }
      w.Put(*p);
      backslashes = 0;
    }
    w.Put('"');
  }
  out[w.length] = '\0';
  return !w.cut;
}

int SplitCommandLine(char *line, char **arguments, int capacity) {
  const char *in = line;
  char *out = line;
  int count = 0;

  // The program name ends at a blank outside quotes; it is always there.
  if (capacity < 1) return -1;
  arguments[count++] = out;
  bool quoted = false;
  while (*in != '\0' && (quoted || !IsBlank(*in))) {
    if (*in == '"') {
      quoted = !quoted;
      in++;
    } else {
      *out++ = *in++;
    }
  }
  if (*in != '\0') in++;
  *out++ = '\0';

  for (;;) {
    while (IsBlank(*in)) in++;
    if (*in == '\0') break;
    if (count == capacity) return -1;
    // The output never overtakes the input, so writing in place is safe.
    arguments[count++] = out;
    quoted = false;
    for (;;) {
      size_t backslashes = 0;
      while (*in == '\\') {
        backslashes++;
        in++;
      }
      if (*in == '"') {
        for (size_t i = 0; i < backslashes / 2; i++) *out++ = '\\';
        if (backslashes % 2 == 1) {
          *out++ = '"';
          in++;
        } else if (quoted && in[1] == '"') {
          *out++ = '"';
          in += 2;
        } else {
          quoted = !quoted;
          in++;
        }
        continue;
      }
      for (size_t i = 0; i < backslashes; i++) *out++ = '\\';
      if (*in == '\0' || (IsBlank(*in) && !quoted)) break;
      *out++ = *in++;
    }
    if (*in != '\0') in++;
    *out++ = '\0';
  }
  return count;
}

}  // namespace cmdline
