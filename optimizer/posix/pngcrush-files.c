/* Whether two names are one file, on Linux (see pngcrush-files.h): the
 * device and inode numbers, as pngcrush itself compared them.
 *
 * Written for Talvek in 2026; under pngcrush's own licence. */
#include "pngcrush-files.h"

#include <sys/stat.h>

int files_same(const char *a, const char *b)
{
   struct stat first, second;

   return stat(a, &first) == 0 && stat(b, &second) == 0 &&
       first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}
