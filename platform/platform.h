// The one seam between the driver and the operating system.
//
// The driver calls the operations below by their Windows names. On Windows
// they are the real API; elsewhere this header declares just the types,
// constants and functions the driver uses, and CMake links in either the
// POSIX layer (platform/posix) or the recording fake of the unit tests.
#ifndef TALVEK_PLATFORM_H
#define TALVEK_PLATFORM_H

#ifdef _WIN32

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#else

#include <stdint.h>

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned long DWORD;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef void *HANDLE;
typedef void *HWND;
typedef void *HINSTANCE;
typedef void *LPVOID;
typedef long HRESULT;

#define WINAPI
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INFINITE 0xFFFFFFFFUL
#define FILE_ATTRIBUTE_DIRECTORY 0x10UL
#define CREATE_NO_WINDOW 0x08000000UL
#define MB_OK 0x0U
#define SW_SHOW 5
#define SW_SHOWDEFAULT 10

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

// The search record. Only the attribute word and cFileName are read.
struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  char cFileName[MAX_PATH];
  char cAlternateFileName[14];
};

// The start-up record; the driver only zeroes it and sets cb.
struct STARTUPINFOA {
  DWORD cb;
  LPSTR lpReserved;
  LPSTR lpDesktop;
  LPSTR lpTitle;
  DWORD dwX, dwY, dwXSize, dwYSize;
  DWORD dwXCountChars, dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  unsigned short wShowWindow;
  unsigned short cbReserved2;
  BYTE *lpReserved2;
  HANDLE hStdInput, hStdOutput, hStdError;
};

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};

struct SECURITY_ATTRIBUTES;

extern "C" {
LPSTR GetCommandLineA(void);
DWORD GetModuleFileNameA(HINSTANCE module, LPSTR name, DWORD size);
BOOL IsDBCSLeadByte(BYTE c);
BOOL SetCurrentDirectoryA(LPCSTR path);
BOOL CreateDirectoryA(LPCSTR path, SECURITY_ATTRIBUTES *security);
HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA *found);
BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA *found);
BOOL FindClose(HANDLE search);
BOOL CreateProcessA(LPCSTR application, LPSTR command_line,
                    SECURITY_ATTRIBUTES *process_security,
                    SECURITY_ATTRIBUTES *thread_security, BOOL inherit,
                    DWORD flags, LPVOID environment, LPCSTR directory,
                    STARTUPINFOA *startup, PROCESS_INFORMATION *process);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL CloseHandle(HANDLE handle);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, unsigned type);
HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR params,
                        LPCSTR directory, int show);
LPSTR PathFindExtensionA(LPCSTR path);
LPSTR PathFindFileNameA(LPCSTR path);
BOOL PathRemoveFileSpecA(LPSTR path);
BOOL PathIsDirectoryA(LPCSTR path);

// The driver's entry, called by the start-up code.
int WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show);
}

#endif  // _WIN32

#endif  // TALVEK_PLATFORM_H
