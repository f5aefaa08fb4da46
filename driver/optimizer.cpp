// The optimizer run: one command line per file, started with no window and
// awaited before the next file.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "talvek.h"

const char CommandTemplate[] =
    "\"%s\\pngcrush.bin\" -rem alla -brute -reduce \"%s\" \".\\_talvek\\%s\"";
const char DashNameTemplate[] =
    "\"%s\\pngcrush.bin\" -rem alla -brute -reduce \".\\%s\" \".\\_talvek\\%s\"";

// Formats like snprintf but never writes past capacity and always leaves a
// NUL. Says whether the whole text fitted, was cut, or the capacity was
// refused (0, or more than 2147483647).
unsigned long FormatBounded(char *buffer, size_t capacity, const char *format,
                            ...) {
  if (capacity == 0 || capacity > 2147483647u) return FormatRefused;

  va_list arguments;
  va_start(arguments, format);
  int written = vsnprintf(buffer, capacity, format, arguments);
  va_end(arguments);

  // Some C libraries return -1, or fill the buffer without a NUL, when cut.
  if (written < 0 || (size_t)written >= capacity) {
    buffer[capacity - 1] = '\0';
    return FormatCut;
  }
  buffer[written] = '\0';
  return FormatFitted;
}

// Runs the optimizer on one file of the current folder and waits for it.
// The copy goes to the output folder under the same name. A command that
// does not fit is not started, since a cut one would name the wrong output.
// Says whether the optimizer was started.
bool RunOptimizer(LPCSTR name) {
  char command[CommandSize];
  const char *format = name[0] == '-' ? DashNameTemplate : CommandTemplate;
  if (FormatBounded(command, sizeof command, format, ToolFolder, name, name) !=
      FormatFitted) {
    return false;
  }

  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  memset(&process, 0, sizeof process);

  if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, CREATE_NO_WINDOW,
                      NULL, NULL, &startup, &process)) {
    return false;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return true;
}
