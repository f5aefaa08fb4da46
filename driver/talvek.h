// The batch driver: reads the command tail, picks the home page, the folder
// run or the file run, and starts the optimizer once per file.
#ifndef TALVEK_DRIVER_H
#define TALVEK_DRIVER_H

#include <stddef.h>

#include "platform.h"

// Where the home page lives; opened when the tail is empty or too long.
extern const char HomePage[];

// The relative folder that receives the optimized copies.
extern const char OutputFolder[];

// The optimizer's command line: tool folder, input name, output name. The
// second form puts ".\" before an input name that begins with '-', so the
// optimizer cannot mistake the file for one of its options.
extern const char CommandTemplate[];
extern const char DashNameTemplate[];

// Sizes of the fixed buffers.
enum : size_t {
  ToolFolderSize = 1024,
  LongestTail = 2047,
  FileFolderSize = LongestTail + 1,
  CommandSize = 4096,
};

// FormatBounded's results.
enum : unsigned long {
  FormatFitted = 0,
  FormatCut = 0x8007007AUL,
  FormatRefused = 0x80070057UL,
};

// The folder of the program's own executable, filled once by the entry.
extern char ToolFolder[ToolFolderSize];

// Skips the program's name in a raw command line and returns the rest.
LPSTR FormCommandTail(LPSTR command_line);

void ProcessFolder(LPCSTR path);
void ProcessFile(LPSTR path);
bool RunOptimizer(LPCSTR name);
unsigned long FormatBounded(char *buffer, size_t capacity, const char *format,
                            ...);

#endif  // TALVEK_DRIVER_H
