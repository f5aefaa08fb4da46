// The Linux layer's command lines: any list of arguments, joined the way
// GetCommandLineA joins them, splits back into the same list the way
// CreateProcessA splits it (the program name minus any double quote).
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cmdline.h"

#define CHECK(condition) \
  if (!(condition)) abort()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<std::string> arguments(1);
  for (size_t i = 0; i < size && arguments.size() <= 64; i++) {
    if (data[i] == 0) {
      arguments.emplace_back();
    } else {
      arguments.back() += (char)data[i];
    }
  }
  std::vector<const char *> pointers;
  for (const std::string &argument : arguments) pointers.push_back(argument.c_str());

  static char line[1 << 16];
  if (!cmdline::JoinCommandLine(line, sizeof line, (int)pointers.size(),
                                pointers.data())) {
    return 0;
  }
  char *split[80];
  int count = cmdline::SplitCommandLine(line, split, 80);
  CHECK(count == (int)arguments.size());
  std::string program = arguments[0];
  program.erase(std::remove(program.begin(), program.end(), '"'), program.end());
  CHECK(program == split[0]);
  for (int i = 1; i < count; i++) CHECK(arguments[(size_t)i] == split[i]);
  return 0;
}
