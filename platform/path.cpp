// Path-string helpers with the semantics of the Windows shell's path
// functions, shared by every platform layer that is not Windows itself.
#include "path.h"

#include "platform.h"

namespace path {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Steps over one character, two bytes for a double-byte one.
static const char *Next(const char *p) {
  if (IsDBCSLeadByte((BYTE)*p) && p[1] != '\0') return p + 2;
  return p + 1;
}

static bool HasDrive(const char *path, bool drive_letters) {
  char c = (char)(path[0] | 0x20);
  return drive_letters && c >= 'a' && c <= 'z' && path[1] == ':';
}

char *FindExtension(const char *path) {
  const char *dot = nullptr;
  const char *p = path;
  for (; *p != '\0'; p = Next(p)) {
    if (IsSeparator(*p) || *p == ' ') {
      dot = nullptr;
    } else if (*p == '.') {
      dot = p;
    }
  }
  return const_cast<char *>(dot != nullptr ? dot : p);
}

char *FindFileName(const char *path, bool drive_letters) {
  const char *name = path;
  if (HasDrive(path, drive_letters)) name = path + 2;
  for (const char *p = name; *p != '\0'; p = Next(p)) {
    if (IsSeparator(*p) && p[1] != '\0' && !IsSeparator(p[1])) name = p + 1;
  }
  return const_cast<char *>(name);
}

bool RemoveFileSpec(char *path, bool drive_letters) {
  // The root stays: a drive, and up to two leading separators.
  char *p = path;
  if (HasDrive(p, drive_letters)) p += 2;
  if (IsSeparator(*p)) p++;
  if (IsSeparator(*p) && p == path + 1) p++;

  // Cut at the last separator after the root, or at the root's end.
  char *cut = p;
  for (; *p != '\0'; p = const_cast<char *>(Next(p))) {
    if (IsSeparator(*p)) cut = p;
  }
  if (*cut == '\0') return false;
  *cut = '\0';
  return true;
}

static char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? (char)(c + 32) : c;
}

bool MatchesPattern(const char *pattern, const char *name) {
  // Classic greedy match with one backtrack point for the last '*'.
  const char *star = nullptr;
  const char *resume = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' || Lower(*pattern) == Lower(*name)) {
      pattern++;
      name++;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') pattern++;
  return *pattern == '\0';
}

}  // namespace path
