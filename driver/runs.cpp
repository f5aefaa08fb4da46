// The folder run and the file run: each enters the folder of its inputs,
// makes the output folder there and runs the optimizer once per file.
#include <string.h>

#include "talvek.h"

const char OutputFolder[] = ".\\_talvek";

// Optimizes every file in the folder that matches "*.png", one after
// another, then says "Listo". A folder that cannot be entered, or that holds
// no match, ends the run before anything is made. When there were files but
// not one optimizer run could start (none lies beside the program, say),
// nothing was done, and "Listo" would say otherwise, so nothing is said.
void ProcessFolder(LPCSTR path) {
  if (!SetCurrentDirectoryA(path)) return;

  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA("*.png", &found);
  if (search == INVALID_HANDLE_VALUE) return;

  CreateDirectoryA(OutputFolder, NULL);
  bool files = false, started = false;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      files = true;
      if (RunOptimizer(found.cFileName)) started = true;
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);

  if (files && !started) return;
  MessageBoxA(NULL, "Listo", "Talvek", MB_OK);
}

// Optimizes the one file the path names, if its extension is ".png" in any
// case. The extension is lowered in place, so the optimizer gets the name
// with ".png". Nothing is said at the end.
void ProcessFile(LPSTR path) {
  char *extension = PathFindExtensionA(path);
  for (char *p = extension; *p != '\0'; p++) {
    if (*p >= 'A' && *p <= 'Z') *p = (char)(*p + 32);
  }
  if (strcmp(extension, ".png") != 0) return;

  // The folder part is entered; a path too long for the buffer is passed over.
  char folder[FileFolderSize];
  size_t length = strlen(path);
  if (length >= sizeof folder) return;
  memcpy(folder, path, length + 1);
  PathRemoveFileSpecA(folder);

  // A bare name runs in the current folder; a folder that cannot be entered
  // must not be replaced by whatever folder is current.
  if (!SetCurrentDirectoryA(folder) && folder[0] != '\0') return;

  CreateDirectoryA(OutputFolder, NULL);
  RunOptimizer(PathFindFileNameA(path));
}
