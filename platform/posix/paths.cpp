// Paths on POSIX, given their Windows effects: '\' and '/' both separate
// folders and are handed to the system as '/', and a name that does not
// exist with its exact spelling is looked up without regard to ASCII case,
// as Windows does. Entering and making folders go through that lookup.
#include <limits.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "internal.h"
#include "path.h"
#include "platform.h"

namespace {

bool Exists(const char *path) {
  struct stat status;
  return lstat(path, &status) == 0;
}

// Finds an entry of the folder whose name equals name but for ASCII case.
// When several do, the first in byte order wins, so the choice is stable.
bool FindWithoutCase(const char *folder, const char *name, char *found,
                     size_t capacity) {
  posix::FolderReader reader;
  if (!posix::OpenFolder(&reader, folder)) return false;
  bool any = false;
  while (const struct dirent64 *entry = posix::ReadFolder(&reader)) {
    if (strcasecmp(entry->d_name, name) != 0) continue;
    if (strlen(entry->d_name) >= capacity) continue;
    if (!any || strcmp(entry->d_name, found) < 0) {
      strcpy(found, entry->d_name);
      any = true;
    }
  }
  posix::CloseFolder(&reader);
  return any;
}

}  // namespace

namespace posix {

bool ToSystemPath(const char *in, char *out, size_t capacity) {
  size_t i = 0;
  for (; in[i] != '\0'; i++) {
    if (i + 1 >= capacity) return false;
    out[i] = in[i] == '\\' ? '/' : in[i];
  }
  out[i] = '\0';
  return true;
}

bool ResolvePath(const char *in, char *out, size_t capacity, bool last_too) {
  char spelled[kPathSize];
  if (!ToSystemPath(in, spelled, sizeof spelled)) return false;
  if (strlen(spelled) >= capacity) return false;
  if (spelled[0] == '\0' || Exists(spelled)) {
    strcpy(out, spelled);
    return true;
  }

  size_t length = 0;
  bool found_so_far = true;
  const char *p = spelled;
  while (*p != '\0') {
    // Separators are copied as they stand.
    while (*p == '/') {
      out[length++] = *p++;
    }
    if (*p == '\0') break;
    const char *end = strchrnul(p, '/');
    size_t size = (size_t)(end - p);
    const char *rest = end;
    while (*rest == '/') rest++;
    bool last = *rest == '\0';

    memcpy(out + length, p, size);
    out[length + size] = '\0';
    bool dots = (size == 1 && p[0] == '.') ||
                (size == 2 && p[0] == '.' && p[1] == '.');
    if (found_so_far && !dots && (!last || last_too) &&
        !Exists(out)) {
      // Look in the folder built so far for another spelling; one that
      // differs only in case has the same length.
      char name[NAME_MAX + 1];
      out[length] = '\0';
      found_so_far = size <= NAME_MAX;
      if (found_so_far) {
        memcpy(name, p, size);
        name[size] = '\0';
        found_so_far =
            FindWithoutCase(out, name, out + length, capacity - length);
      }
      if (!found_so_far) memcpy(out + length, p, size);
    }
    length += size;
    out[length] = '\0';
    p = end;
  }
  out[length] = '\0';
  return true;
}

}  // namespace posix

extern "C" {

BOOL SetCurrentDirectoryA(LPCSTR path) {
  char real[posix::kPathSize];
  if (!posix::ResolvePath(path, real, sizeof real, true)) return FALSE;
  return chdir(real) == 0;
}

BOOL CreateDirectoryA(LPCSTR path, SECURITY_ATTRIBUTES *) {
  char real[posix::kPathSize];
  // The new folder's own name is taken as given, so only its parents are
  // looked up without regard to case.
  if (!posix::ResolvePath(path, real, sizeof real, false)) return FALSE;
  return mkdir(real, 0777) == 0;
}

BOOL PathIsDirectoryA(LPCSTR path) {
  char real[posix::kPathSize];
  struct stat status;
  if (path[0] == '\0' || !posix::ResolvePath(path, real, sizeof real, true)) {
    return FALSE;
  }
  return stat(real, &status) == 0 && S_ISDIR(status.st_mode)
             ? FILE_ATTRIBUTE_DIRECTORY
             : FALSE;
}

LPSTR PathFindExtensionA(LPCSTR path) { return path::FindExtension(path); }

LPSTR PathFindFileNameA(LPCSTR path) {
  return path::FindFileName(path, false);
}

BOOL PathRemoveFileSpecA(LPSTR path) {
  return path::RemoveFileSpec(path, false);
}

}  // extern "C"
