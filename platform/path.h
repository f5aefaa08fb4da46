// Path-string helpers shared by the POSIX layer and the test platform.
// Both '\' and '/' separate components. Where drive letters are on, a
// leading "X:" is a drive, as on Windows; the POSIX layer turns them off so
// that a name such as "a:b.png" stays one name.
#ifndef TALVEK_PATH_H
#define TALVEK_PATH_H

namespace path {

bool IsSeparator(char c);

// The dot of the last component's extension, or the terminating NUL. A blank
// or a separator after the dot means there is no extension.
char *FindExtension(const char *path);

// The last component; a separator at the very end does not start one.
char *FindFileName(const char *path, bool drive_letters);

// Cuts the last component off in place, keeping a root ("\", "C:\") whole.
// Returns true if anything was cut.
bool RemoveFileSpec(char *path, bool drive_letters);

// Whether a name matches a pattern of '*' and '?', ignoring ASCII case.
bool MatchesPattern(const char *pattern, const char *name);

}  // namespace path

#endif  // TALVEK_PATH_H
