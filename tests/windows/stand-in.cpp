// A stand-in optimizer for the Windows tests. Appends its raw command line
// to calls.log beside itself, then copies its input operand to its output
// operand, as the C runtime splits them.
#include <windows.h>

#include <string.h>

int main(int argc, char **argv) {
  char log[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, log, MAX_PATH - 10);
  while (length > 0 && log[length - 1] != '\\') length--;
  strcpy(log + length, "calls.log");

  HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ, NULL,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  const char *line = GetCommandLineA();
  DWORD written;
  WriteFile(file, line, (DWORD)strlen(line), &written, NULL);
  WriteFile(file, "\n", 1, &written, NULL);
  CloseHandle(file);

  if (argc != 7) return 2;
  return CopyFileA(argv[5], argv[6], FALSE) ? 0 : 1;
}
