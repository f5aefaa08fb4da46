// Reading folders on POSIX: the small-batch folder reader, and the file
// search the driver walks a folder with, matching names against a pattern
// without regard to case, as Windows does.
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "internal.h"
#include "path.h"
#include "platform.h"

namespace {

constexpr int kMostSearches = 4;

// One open file search: the folder being read and the pattern for names.
struct Search {
  bool open;
  posix::FolderReader folder;
  char pattern[MAX_PATH];
};
Search g_searches[kMostSearches];

// Fills the record with the next name that matches. Names holding '"' or
// '\' are passed over: Windows never yields them, and they could not be
// handed to the optimizer intact.
bool NextMatch(Search *search, WIN32_FIND_DATAA *found) {
  while (const struct dirent64 *entry = posix::ReadFolder(&search->folder)) {
    const char *name = entry->d_name;
    if (strpbrk(name, "\"\\") != nullptr) continue;
    if (strlen(name) >= sizeof found->cFileName) continue;
    if (!path::MatchesPattern(search->pattern, name)) continue;

    bool directory = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      struct stat status;
      directory = fstatat(search->folder.fd, name, &status, 0) == 0 &&
                  S_ISDIR(status.st_mode);
    }
    memset(found, 0, sizeof *found);
    found->dwFileAttributes = directory ? FILE_ATTRIBUTE_DIRECTORY : 0x80;
    strcpy(found->cFileName, name);
    return true;
  }
  return false;
}

}  // namespace

namespace posix {

bool OpenFolder(FolderReader *reader, const char *folder) {
  reader->fd = open(folder[0] != '\0' ? folder : ".",
                    O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  reader->used = reader->next = 0;
  return reader->fd >= 0;
}

const struct dirent64 *ReadFolder(FolderReader *reader) {
  if (reader->next >= reader->used) {
    ssize_t got = getdents64(reader->fd, reader->batch, sizeof reader->batch);
    if (got <= 0) return nullptr;
    reader->used = (size_t)got;
    reader->next = 0;
  }
  const struct dirent64 *entry =
      reinterpret_cast<const struct dirent64 *>(reader->batch + reader->next);
  reader->next += entry->d_reclen;
  return entry;
}

void CloseFolder(FolderReader *reader) {
  close(reader->fd);
  reader->fd = -1;
}

}  // namespace posix

extern "C" {

// Opens a search of one folder for names matching the pattern's last
// component, ignoring case. Gives the first match, or INVALID_HANDLE_VALUE.
HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA *found) {
  Search *search = nullptr;
  for (Search &slot : g_searches) {
    if (!slot.open) {
      search = &slot;
      break;
    }
  }
  const char *name = path::FindFileName(pattern, false);
  if (search == nullptr || strlen(name) >= sizeof search->pattern) {
    return INVALID_HANDLE_VALUE;
  }

  char folder[posix::kPathSize];
  size_t folder_length = (size_t)(name - pattern);
  if (folder_length >= sizeof folder) return INVALID_HANDLE_VALUE;
  memcpy(folder, pattern, folder_length);
  folder[folder_length] = '\0';
  char real[posix::kPathSize];
  if (!posix::ResolvePath(folder, real, sizeof real, true)) {
    return INVALID_HANDLE_VALUE;
  }

  if (!posix::OpenFolder(&search->folder, real)) return INVALID_HANDLE_VALUE;
  search->open = true;
  strcpy(search->pattern, name);
  if (!NextMatch(search, found)) {
    FindClose(search);
    return INVALID_HANDLE_VALUE;
  }
  return search;
}

BOOL FindNextFileA(HANDLE handle, WIN32_FIND_DATAA *found) {
  return NextMatch(static_cast<Search *>(handle), found);
}

BOOL FindClose(HANDLE handle) {
  Search *search = static_cast<Search *>(handle);
  posix::CloseFolder(&search->folder);
  search->open = false;
  return TRUE;
}

}  // extern "C"
