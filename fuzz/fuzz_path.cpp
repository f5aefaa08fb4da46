// The path helpers, with and without drive letters, against what they
// promise: pointers into the same string, an extension that is the last
// dot of the last component, a file name with no separator before its end,
// a folder that is a prefix of the path ending where the name was cut, and
// '*'/'?' matching that agrees with fnmatch ignoring case.
#include <fnmatch.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "path.h"

#define CHECK(condition) \
  if (!(condition)) abort()

static void CheckPath(const std::string &original, bool drives) {
  const char *p = original.c_str();
  size_t length = original.size();

  const char *extension = path::FindExtension(p);
  CHECK(extension >= p && extension <= p + length);
  // Nothing after the extension's dot ends a component or holds a dot.
  CHECK(strpbrk(extension + (*extension != '\0'), "/\\ .") == NULL);
  CHECK(*extension == '\0' || *extension == '.');
  if (*extension == '\0') {
    // No dot in the last stretch after a separator or a blank.
    const char *last = p;
    for (const char *q = p; *q; q++) {
      if (path::IsSeparator(*q) || *q == ' ') last = q + 1;
    }
    CHECK(strchr(last, '.') == NULL);
  }

  const char *name = path::FindFileName(p, drives);
  CHECK(name >= p && name <= p + length);
  // Separators in the name stand only at its very end.
  const char *q = name;
  while (*q && !path::IsSeparator(*q)) q++;
  while (*q && path::IsSeparator(*q)) q++;
  CHECK(*q == '\0');

  std::string folder = original;
  bool cut = path::RemoveFileSpec(&folder[0], drives);
  size_t kept = strlen(folder.c_str());
  CHECK(original.compare(0, kept, folder.c_str()) == 0);
  CHECK(cut == (kept < length));
  // What was cut holds at most one separator, at its start, besides any
  // trailing run, and the name is always inside it.
  if (cut && name < p + length && !path::IsSeparator(p[length - 1])) {
    CHECK(name >= p + kept);
  }
  for (size_t i = kept + 1; i < length; i++) {
    if (path::IsSeparator(p[i])) {
      for (size_t j = i; j < length; j++) CHECK(path::IsSeparator(p[j]));
      break;
    }
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text((const char *)data, size);
  text.resize(strlen(text.c_str()));
  CheckPath(text, false);
  CheckPath(text, true);

  // The pattern is the text up to the first '|', the name the rest.
  size_t bar = text.find('|');
  if (bar != std::string::npos && text.find('[') == std::string::npos) {
    std::string pattern = text.substr(0, bar), name = text.substr(bar + 1);
    bool expected =
        fnmatch(pattern.c_str(), name.c_str(), FNM_NOESCAPE | FNM_CASEFOLD) == 0;
    CHECK(path::MatchesPattern(pattern.c_str(), name.c_str()) == expected);
  }
  return 0;
}
