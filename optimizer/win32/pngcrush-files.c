/* Whether two names are one file, on Windows (see pngcrush-files.h): the
 * volume's serial number and the file's index, which every file system
 * Windows XP reads gives. Each file is opened only to ask, with no right
 * to read or write it, and shared with any other opener.
 *
 * Written for Talvek in 2026; under pngcrush's own licence. */
#include "pngcrush-files.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

/* The identity of the file NAME; 0 when it cannot be had. */
static int identify(const char *name, BY_HANDLE_FILE_INFORMATION *info)
{
   HANDLE file = CreateFileA(name, FILE_READ_ATTRIBUTES,
       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
       FILE_FLAG_BACKUP_SEMANTICS, NULL);
   int known;

   if (file == INVALID_HANDLE_VALUE)
      return 0;
   known = GetFileInformationByHandle(file, info) != 0;
   CloseHandle(file);
   return known;
}

int files_same(const char *a, const char *b)
{
   BY_HANDLE_FILE_INFORMATION first, second;

   return identify(a, &first) && identify(b, &second) &&
       first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
       first.nFileIndexHigh == second.nFileIndexHigh &&
       first.nFileIndexLow == second.nFileIndexLow;
}
