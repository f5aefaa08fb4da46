// Windows-style command lines on POSIX: joining an argument list into one
// line the way a Windows program would receive it, and splitting a line back
// into arguments the way the Windows C runtime does.
#ifndef TALVEK_CMDLINE_H
#define TALVEK_CMDLINE_H

#include <stddef.h>

namespace cmdline {

// Joins the program name and the arguments with single blanks into out.
// An argument that is empty or holds a blank, tab or double quote is quoted
// so that SplitCommandLine gives it back unchanged. The program name can
// hold no double quote on Windows, so any is dropped. Returns false, with
// out cut and terminated, if the line does not fit in capacity bytes.
bool JoinCommandLine(char *out, size_t capacity, int count,
                     const char *const *arguments);

// Splits a line in place into at most capacity arguments. The first token is
// the program name: double quotes group and are dropped, backslashes are
// plain. The rest follow the runtime's rules: 2n backslashes before a quote
// give n and the quote groups; 2n+1 give n and a literal quote; "" inside a
// quoted stretch is a literal quote. Returns the count, or -1 if there were
// more arguments than room.
int SplitCommandLine(char *line, char **arguments, int capacity);

}  // namespace cmdline

#endif  // TALVEK_CMDLINE_H
