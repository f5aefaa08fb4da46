// Start-up and entry: forms the command tail, chooses between the home page
// and a run, and records the folder the optimizer lies in.
#include <string.h>

#include "talvek.h"

// The host is a build setting (TALVEK_HOME_HOST), so a release names its own
// site; the scheme and the path are fixed.
const char HomePage[] = "http://" TALVEK_HOME_HOST "/soft/talvek";

char ToolFolder[ToolFolderSize];

// Returns what follows the program's name in a raw command line. The name
// ends at the first byte of value 1 to 32 outside double quotes; the blanks
// after it are skipped too. Trailing blanks stay, and the rest is never split.
// This is done here rather than by the C runtime so that every platform
// reads the same command line the same way.
LPSTR FormCommandTail(LPSTR command_line) {
  static char empty[1];
  if (command_line == NULL) return empty;

  unsigned char *p = (unsigned char *)command_line;
  bool quoted = false;
  while (*p != 0) {
    if (*p == '"') {
      quoted = !quoted;
    } else if (*p <= 32 && !quoted) {
      break;
    }
    // A double-byte character is stepped over whole, but never past the NUL.
    if (IsDBCSLeadByte(*p) && p[1] != 0) {
      p += 2;
    } else {
      p += 1;
    }
  }
  while (*p >= 1 && *p <= 32) p++;
  return (LPSTR)p;
}

// The program's entry. An empty tail, or one longer than 2047 bytes, opens
// the home page; any other tail is one path, run as a folder if it names a
// directory and as a file otherwise. Always returns 0.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR tail, int) {
  size_t length = strlen(tail);
  if (length == 0 || length > LongestTail) {
    ShellExecuteA(NULL, "open", HomePage, NULL, NULL, SW_SHOW);
    return 0;
  }

  // Only a tail that both begins and ends with a quote loses its quotes.
  LPSTR path = tail;
  if (length >= 2 && tail[0] == '"' && tail[length - 1] == '"') {
    tail[length - 1] = '\0';
    path = tail + 1;
  }

  // Some systems fill the whole buffer and leave no NUL when the path is long.
  GetModuleFileNameA(NULL, ToolFolder, ToolFolderSize);
  ToolFolder[ToolFolderSize - 1] = '\0';
  PathRemoveFileSpecA(ToolFolder);

  if (PathIsDirectoryA(path)) {
    ProcessFolder(path);
  } else {
    ProcessFile(path);
  }
  return 0;
}
