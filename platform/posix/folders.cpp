// Reading folders on POSIX: the small-batch folder reader, and the file
// search the driver walks a folder with, matching names against a pattern
// without regard to case, as Windows does.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "internal.h"
#include "path.h"
#include "platform.h"
#include "progress.h"

namespace {

constexpr int kMostSearches = 4;

// One open file search: the folder being read and the pattern for names.
struct Search {
  bool open;
  posix::FolderReader folder;
  char pattern[MAX_PATH];
};
Search g_searches[kMostSearches];

// Whether a folder's entry is one the search gives, and if so whether it
// is a folder. Names holding '"' or '\' are passed over: Windows never
// yields them, and they could not be handed to the optimizer intact.
bool IsMatch(int folder, const char *pattern, const struct dirent64 *entry,
             bool *directory) {
  const char *name = entry->d_name;
  if (strpbrk(name, "\"\\") != nullptr) return false;
  if (strlen(name) >= MAX_PATH) return false;
  if (!path::MatchesPattern(pattern, name)) return false;
  *directory = entry->d_type == DT_DIR;
  if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
    struct stat status;
    *directory =
        fstatat(folder, name, &status, 0) == 0 && S_ISDIR(status.st_mode);
  }
  return true;
}

// Fills the record with the next name that matches.
bool NextMatch(Search *search, WIN32_FIND_DATAA *found) {
  while (const struct dirent64 *entry = posix::ReadFolder(&search->folder)) {
    bool directory;
    if (!IsMatch(search->folder.fd, search->pattern, entry, &directory)) {
      continue;
    }
    memset(found, 0, sizeof *found);
    found->dwFileAttributes = directory ? FILE_ATTRIBUTE_DIRECTORY : 0x80;
    strcpy(found->cFileName, entry->d_name);
    return true;
  }
  return false;
}

// The files (not folders) that a search of the folder will give, read in a
// pass of its own; only the terminal's report asks, for its "[3/20]".
unsigned long CountFiles(const char *folder, const char *pattern) {
  posix::FolderReader reader;
  if (!posix::OpenFolder(&reader, folder)) return 0;
  unsigned long files = 0;
  while (const struct dirent64 *entry = posix::ReadFolder(&reader)) {
    bool directory;
    if (IsMatch(reader.fd, pattern, entry, &directory) && !directory) files++;
  }
  posix::CloseFolder(&reader);
  return files;
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
// The driver searches only in a folder run, so the report learns of one
// here.
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

  if (!posix::OpenFolder(&search->folder, real)) {
    progress::Searched(errno, 0);
    return INVALID_HANDLE_VALUE;
  }
  search->open = true;
  strcpy(search->pattern, name);
  progress::Searched(0, progress::OnTerminal() ? CountFiles(real, name) : 0);
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
