// What the files of the POSIX layer share among themselves: the size of a
// system path, the folder reader, the path lookup, the start of a program
// and the test for a desktop. The driver never sees this; it knows only
// platform.h.
#ifndef TALVEK_POSIX_INTERNAL_H
#define TALVEK_POSIX_INTERNAL_H

#include <dirent.h>
#include <stddef.h>
#include <sys/types.h>

namespace posix {

// Room for one system path.
constexpr size_t kPathSize = 4096;

// Reads a folder's names in small batches straight from the system, with no
// heap. A small batch lets the first name come back at once: the C library's
// reader fills 32 KiB (about a thousand names) before it returns the first.
struct FolderReader {
  int fd;
  size_t used;
  size_t next;
  alignas(struct dirent64) char batch[4096];
};

// Opens the folder ("" is the current one). False if it cannot be read.
bool OpenFolder(FolderReader *reader, const char *folder);
// The next entry, or null at the end of the folder or on a read error.
const struct dirent64 *ReadFolder(FolderReader *reader);
void CloseFolder(FolderReader *reader);

// Copies a path with every '\' turned into '/'. False if it does not fit.
bool ToSystemPath(const char *in, char *out, size_t capacity);

// Turns a driver path into a system path. When it does not exist as
// spelled, each component that is missing is looked up without regard to
// case; the last one only if last_too is set. Components below a folder
// that cannot be found are left as they are. False if it does not fit.
bool ResolvePath(const char *in, char *out, size_t capacity, bool last_too);

// Starts a program, found on the PATH when its name has no '/', with
// /dev/null as its standard input, and as its standard output and error
// unless output names a descriptor for both. Returns the child, or -1
// with errno saying why.
pid_t StartProgram(const char *program, char *const *arguments,
                   int output = -1);

// Whether a desktop is there to show notifications.
bool InGraphicalSession();

}  // namespace posix

#endif  // TALVEK_POSIX_INTERNAL_H
