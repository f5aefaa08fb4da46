// Forms the command tail from any command line and runs the entry on it,
// against the recording platform. Checks: the tail lies inside the line and
// starts past any blank; an empty or over-long tail only opens the home
// page; any other tail yields exactly one path, the tail with at most one
// pair of enclosing quotes removed; no command line exceeds 4095 bytes.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "fake.h"
#include "talvek.h"

#define CHECK(condition) \
  if (!(condition)) abort()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  ResetFake();
  // The first byte picks a code page with or without double-byte characters.
  if (data[0] & 1) {
    for (int b = 0x81; b <= 0xFE; b++) fake.lead_bytes.insert((unsigned char)b);
  }
  fake.command_line.assign((const char *)data + 1, size - 1);
  fake.command_line.resize(strlen(fake.command_line.c_str()));

  char *line = GetCommandLineA();
  size_t length = strlen(line);
  char *tail = FormCommandTail(line);
  CHECK(tail >= line && tail <= line + length);
  CHECK(*tail == '\0' || (unsigned char)*tail > 32);
  std::string original = tail;

  WinMain(NULL, NULL, tail, 10);
  const std::string home =
      "ShellExecuteA open http://" TALVEK_HOME_HOST "/soft/talvek 5";
  size_t n = original.size();
  if (n == 0 || n > LongestTail) {
    CHECK(fake.calls.size() == 1 && fake.calls[0] == home);
    return 0;
  }
  std::string path = original;
  if (n >= 2 && original[0] == '"' && original[n - 1] == '"') {
    path = original.substr(1, n - 2);
  }
  CHECK(fake.calls.size() >= 2 && fake.calls[1] == "PathIsDirectoryA " + path);
  for (const std::string &call : fake.calls) {
    if (call.compare(0, 15, "CreateProcessA ") == 0) {
      CHECK(call.size() - 15 <= 4095);
      CHECK(call.compare(15, 24, "\"C:\\Tools\\pngcrush.bin\" ") == 0);
    }
  }
  return 0;
}
