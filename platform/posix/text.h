// Words and numbers for people, as the terminal report and the desktop
// notification give them: names made safe to print, sizes, changes in size
// and times. Pure functions on fixed buffers; each cuts its result to fit
// and always leaves a NUL.
#ifndef TALVEK_POSIX_TEXT_H
#define TALVEK_POSIX_TEXT_H

#include <stddef.h>

namespace text {

// Copies a name into out so that printing it cannot drive a terminal:
// control characters (C0, DEL and the C1 range), and every byte that is
// not part of valid UTF-8, become \xNN, and a backslash becomes \\. With
// markup set, &, < and > also become &amp;, &lt; and &gt;, for the body of
// a desktop notification. A name too long for out is cut between two
// characters. Returns the length written.
size_t EscapeName(const char *name, char *out, size_t capacity, bool markup);

// The columns a UTF-8 text takes, one a character: its bytes but for the
// continuation bytes.
size_t Columns(const char *text);

// A size: in bytes below 10,000 ("9857 B"), then in decimal units with one
// decimal, rounded half up ("35.8 kB", "1.3 MB", "2.0 GB").
void FormatSize(unsigned long long bytes, char *out, size_t capacity);

// How a copy's size compares with its input's: "24 % smaller", "1.4 %
// smaller", "2.1 % larger" (one decimal below 10 %), "under 0.1 %
// smaller", or "the same size".
void FormatChange(unsigned long long before, unsigned long long after,
                  char *out, size_t capacity);

// A time: "0.3 s" and "59.9 s" to the tenth, then "1 min 05 s", then
// "2 h 05 min".
void FormatTime(unsigned long long milliseconds, char *out, size_t capacity);

}  // namespace text

#endif  // TALVEK_POSIX_TEXT_H
