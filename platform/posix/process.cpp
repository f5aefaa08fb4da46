// The operations the driver calls, given their Windows effects on a POSIX
// system (Linux). Paths take '\' or '/' as separators and are handed to the
// system with '/'. A name that does not exist with its exact spelling is
// looked up without regard to ASCII case, as on Windows.
#include "system.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cmdline.h"
#include "path.h"
#include "platform.h"

extern char **environ;

namespace {

// The longest command line Windows takes, and room for one system path.
constexpr size_t kLineSize = 32768;
constexpr size_t kPathSize = 4096;
constexpr int kMostArguments = 256;
constexpr int kMostOperands = 8;
constexpr int kMostSearches = 4;

int g_argument_count;
const char *const *g_arguments;
char g_command_line[kLineSize];
bool g_command_line_ready;

// Copies a path with every '\' turned into '/'. False if it does not fit.
bool ToSystemPath(const char *in, char *out, size_t capacity) {
  size_t i = 0;
  for (; in[i] != '\0'; i++) {
    if (i + 1 >= capacity) return false;
    out[i] = in[i] == '\\' ? '/' : in[i];
  }
  out[i] = '\0';
  return true;
}

bool Exists(const char *path) {
  struct stat status;
  return lstat(path, &status) == 0;
}

// Reads a folder's names in small batches straight from the system, with no
// heap. A small batch lets the first name come back at once: the C library's
// reader fills 32 KiB (about a thousand names) before it returns the first.
struct FolderReader {
  int fd;
  size_t used;
  size_t next;
  alignas(struct dirent64) char batch[4096];
};

bool OpenFolder(FolderReader *reader, const char *folder) {
  reader->fd = open(folder[0] != '\0' ? folder : ".",
                    O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  reader->used = reader->next = 0;
  return reader->fd >= 0;
}

// The next entry, or null at the end of the folder or on a read error.
const struct dirent64 *ReadFolder(FolderReader *reader) {
  if (reader->next >= reader->used) {
    ssize_t got = getdents64(reader->fd, reader->batch, sizeof reader->batch);
    if (got <= 0) return nullptr;
    reader->used = (size_t)got;
    reader->next = 0;
  }
  const struct dirent64 *entry =
      reinterpret_cast<const struct dirent64 *>(reader->batch + reader->next);
  reader->next += entry->d_reclen;
  return entry;
}

void CloseFolder(FolderReader *reader) {
  close(reader->fd);
  reader->fd = -1;
}

// Finds an entry of the folder whose name equals name but for ASCII case.
// When several do, the first in byte order wins, so the choice is stable.
bool FindWithoutCase(const char *folder, const char *name, char *found,
                     size_t capacity) {
  FolderReader reader;
  if (!OpenFolder(&reader, folder)) return false;
  bool any = false;
  while (const struct dirent64 *entry = ReadFolder(&reader)) {
    if (strcasecmp(entry->d_name, name) != 0) continue;
    if (strlen(entry->d_name) >= capacity) continue;
    if (!any || strcmp(entry->d_name, found) < 0) {
      strcpy(found, entry->d_name);
      any = true;
    }
  }
  CloseFolder(&reader);
  return any;
}

// Turns a driver path into a system path. When it does not exist as
// spelled, each component that is missing is looked up without regard to
// case; the last one only if last_too is set. Components below a folder
// that cannot be found are left as they are. False if it does not fit.
bool ResolvePath(const char *in, char *out, size_t capacity, bool last_too) {
  char spelled[kPathSize];
  if (!ToSystemPath(in, spelled, sizeof spelled)) return false;
  if (strlen(spelled) >= capacity) return false;
  if (spelled[0] == '\0' || Exists(spelled)) {
    strcpy(out, spelled);
    return true;
  }

  size_t length = 0;
  bool found_so_far = true;
  const char *p = spelled;
  while (*p != '\0') {
    // Separators are copied as they stand.
    while (*p == '/') {
      out[length++] = *p++;
    }
    if (*p == '\0') break;
    const char *end = strchrnul(p, '/');
    size_t size = (size_t)(end - p);
    const char *rest = end;
    while (*rest == '/') rest++;
    bool last = *rest == '\0';

    memcpy(out + length, p, size);
    out[length + size] = '\0';
    bool dots = (size == 1 && p[0] == '.') ||
                (size == 2 && p[0] == '.' && p[1] == '.');
    if (found_so_far && !dots && (!last || last_too) &&
        !Exists(out)) {
      // Look in the folder built so far for another spelling; one that
      // differs only in case has the same length.
      char name[NAME_MAX + 1];
      out[length] = '\0';
      found_so_far = size <= NAME_MAX;
      if (found_so_far) {
        memcpy(name, p, size);
        name[size] = '\0';
        found_so_far =
            FindWithoutCase(out, name, out + length, capacity - length);
      }
      if (!found_so_far) memcpy(out + length, p, size);
    }
    length += size;
    out[length] = '\0';
    p = end;
  }
  out[length] = '\0';
  return true;
}

// One open file search: the folder being read and the pattern for names.
struct Search {
  bool open;
  FolderReader folder;
  char pattern[MAX_PATH];
};
Search g_searches[kMostSearches];

// Fills the record with the next name that matches. Names holding '"' or
// '\' are passed over: Windows never yields them, and they could not be
// handed to the optimizer intact.
bool NextMatch(Search *search, WIN32_FIND_DATAA *found) {
  while (const struct dirent64 *entry = ReadFolder(&search->folder)) {
    const char *name = entry->d_name;
    if (strpbrk(name, "\"\\") != nullptr) continue;
    if (strlen(name) >= sizeof found->cFileName) continue;
    if (!path::MatchesPattern(search->pattern, name)) continue;

    bool directory = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      struct stat status;
      directory = fstatat(search->folder.fd, name, &status, 0) == 0 &&
                  S_ISDIR(status.st_mode);
    }
    memset(found, 0, sizeof *found);
    found->dwFileAttributes = directory ? FILE_ATTRIBUTE_DIRECTORY : 0x80;
    strcpy(found->cFileName, name);
    return true;
  }
  return false;
}

// Process handles carry the child's id: twice it for the process, and one
// more for its thread, so neither is ever INVALID_HANDLE_VALUE or NULL.
HANDLE ProcessHandle(pid_t pid) { return (HANDLE)((intptr_t)pid * 2); }
HANDLE ThreadHandle(pid_t pid) { return (HANDLE)((intptr_t)pid * 2 + 1); }
pid_t HandleProcess(HANDLE handle) { return (pid_t)((intptr_t)handle / 2); }

// An argument is taken for a file name if it has a dot and is no option.
bool IsOperand(const char *argument) {
  return argument[0] != '-' && strchr(argument, '.') != nullptr;
}

// An operand with no folder part (or only ".") is read from the current
// folder, so its own name is looked up too; in one with a folder part only
// the folders are, since such a file is one the optimizer writes.
bool IsBareName(const char *argument) {
  const char *name = path::FindFileName(argument, false);
  if (name == argument) return true;
  return name == argument + 2 && argument[0] == '.';
}

// Starts a program with /dev/null as its standard streams. vfork is the
// cheapest way to start a process: no page tables are copied and no stack
// allocated. The child shares our memory until it executes the program, so
// it makes only system calls, and leaves the reason in failure if it cannot
// start it; we stay suspended until then. Returns the child, or -1.
pid_t StartProgram(const char *program, char *const *arguments) {
  static int no_terminal = -1;
  if (no_terminal < 0) {
    no_terminal = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (no_terminal < 0) return -1;
  }
  bool search = strchr(program, '/') == nullptr;
  volatile int failure = 0;
  pid_t pid = vfork();
  if (pid == 0) {
    for (int fd = 0; fd <= 2; fd++) {
      if (dup2(no_terminal, fd) < 0) {
        failure = errno;
        _exit(127);
      }
    }
    if (search) {
      execvp(program, arguments);
    } else {
      execve(program, arguments, environ);
    }
    failure = errno;
    _exit(127);
  }
  if (pid > 0 && failure != 0) {
    waitpid(pid, nullptr, 0);
    return -1;
  }
  return pid;
}

// A desktop is there to show notifications when either display variable
// names one.
bool InGraphicalSession() {
  const char *x11 = getenv("DISPLAY");
  const char *wayland = getenv("WAYLAND_DISPLAY");
  return (x11 != nullptr && x11[0] != '\0') ||
         (wayland != nullptr && wayland[0] != '\0');
}

}  // namespace

void SetProcessArguments(int count, const char *const *arguments) {
  g_argument_count = count;
  g_arguments = arguments;
  g_command_line_ready = false;
}

extern "C" {

// The program's arguments joined into one line, quoted as Windows would.
LPSTR GetCommandLineA(void) {
  if (!g_command_line_ready) {
    if (g_argument_count > 0 && g_arguments[0] != nullptr) {
      cmdline::JoinCommandLine(g_command_line, sizeof g_command_line,
                               g_argument_count, g_arguments);
    } else {
      g_command_line[0] = '\0';
    }
    g_command_line_ready = true;
  }
  return g_command_line;
}

// The running executable's real path, links resolved, cut to fit.
DWORD GetModuleFileNameA(HINSTANCE, LPSTR name, DWORD size) {
  if (size == 0) return 0;
  char real[kPathSize];
  ssize_t length = readlink("/proc/self/exe", real, sizeof real - 1);
  if (length < 0) {
    name[0] = '\0';
    return 0;
  }
  size_t copied = (size_t)length < size - 1 ? (size_t)length : size - 1;
  memcpy(name, real, copied);
  name[copied] = '\0';
  return (size_t)length < size ? (DWORD)copied : size;
}

// No code page here has double-byte characters.
BOOL IsDBCSLeadByte(BYTE) { return FALSE; }

BOOL SetCurrentDirectoryA(LPCSTR path) {
  char real[kPathSize];
  if (!ResolvePath(path, real, sizeof real, true)) return FALSE;
  return chdir(real) == 0;
}

BOOL CreateDirectoryA(LPCSTR path, SECURITY_ATTRIBUTES *) {
  char real[kPathSize];
  // The new folder's own name is taken as given, so only its parents are
  // looked up without regard to case.
  if (!ResolvePath(path, real, sizeof real, false)) return FALSE;
  return mkdir(real, 0777) == 0;
}

BOOL PathIsDirectoryA(LPCSTR path) {
  char real[kPathSize];
  struct stat status;
  if (path[0] == '\0' || !ResolvePath(path, real, sizeof real, true)) {
    return FALSE;
  }
  return stat(real, &status) == 0 && S_ISDIR(status.st_mode)
             ? FILE_ATTRIBUTE_DIRECTORY
             : FALSE;
}

LPSTR PathFindExtensionA(LPCSTR path) { return path::FindExtension(path); }

LPSTR PathFindFileNameA(LPCSTR path) {
  return path::FindFileName(path, false);
}

BOOL PathRemoveFileSpecA(LPSTR path) {
  return path::RemoveFileSpec(path, false);
}

// Opens a search of one folder for names matching the pattern's last
// component, ignoring case. Gives the first match, or INVALID_HANDLE_VALUE.
HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA *found) {
  Search *search = nullptr;
  for (Search &slot : g_searches) {
    if (!slot.open) {
      search = &slot;
      break;
    }
  }
  const char *name = path::FindFileName(pattern, false);
  if (search == nullptr || strlen(name) >= sizeof search->pattern) {
    return INVALID_HANDLE_VALUE;
  }

  char folder[kPathSize];
  size_t folder_length = (size_t)(name - pattern);
  if (folder_length >= sizeof folder) return INVALID_HANDLE_VALUE;
  memcpy(folder, pattern, folder_length);
  folder[folder_length] = '\0';
  char real[kPathSize];
  if (!ResolvePath(folder, real, sizeof real, true)) {
    return INVALID_HANDLE_VALUE;
  }

  if (!OpenFolder(&search->folder, real)) return INVALID_HANDLE_VALUE;
  search->open = true;
  strcpy(search->pattern, name);
  if (!NextMatch(search, found)) {
    FindClose(search);
    return INVALID_HANDLE_VALUE;
  }
  return search;
}

BOOL FindNextFileA(HANDLE handle, WIN32_FIND_DATAA *found) {
  return NextMatch(static_cast<Search *>(handle), found);
}

BOOL FindClose(HANDLE handle) {
  Search *search = static_cast<Search *>(handle);
  CloseFolder(&search->folder);
  search->open = false;
  return TRUE;
}

// Starts the program that the command line's first token names, with the
// arguments split as the Windows runtime splits them. The child has no
// terminal: its standard streams are /dev/null. File operands that exist
// only in another case are handed over in their real spelling.
BOOL CreateProcessA(LPCSTR application, LPSTR command_line,
                    SECURITY_ATTRIBUTES *, SECURITY_ATTRIBUTES *, BOOL, DWORD,
                    LPVOID, LPCSTR, STARTUPINFOA *,
                    PROCESS_INFORMATION *process) {
  char line[kLineSize];
  if (!ToSystemPath(command_line, line, sizeof line)) return FALSE;
  char *arguments[kMostArguments + 1];
  int count = cmdline::SplitCommandLine(line, arguments, kMostArguments);
  if (count < 1) return FALSE;
  arguments[count] = nullptr;

  char operands[kMostOperands][kPathSize];
  int used = 0;
  for (int i = 1; i < count && used < kMostOperands; i++) {
    if (!IsOperand(arguments[i])) continue;
    if (ResolvePath(arguments[i], operands[used], kPathSize,
                    IsBareName(arguments[i]))) {
      arguments[i] = operands[used++];
    }
  }

  const char *program = application != nullptr ? application : arguments[0];
  if (program[0] == '\0') return FALSE;

  pid_t pid = StartProgram(program, arguments);
  if (pid < 0) return FALSE;
  process->hProcess = ProcessHandle(pid);
  process->hThread = ThreadHandle(pid);
  process->dwProcessId = (DWORD)pid;
  process->dwThreadId = (DWORD)pid;
  return TRUE;
}

// Waits until the child has ended; the only wait the driver asks for is
// the infinite one.
DWORD WaitForSingleObject(HANDLE handle, DWORD) {
  pid_t pid = HandleProcess(handle);
  int status;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return 0xFFFFFFFFUL;
  }
  return 0;
}

// A child is reaped by the wait, so there is nothing left to release.
BOOL CloseHandle(HANDLE) { return TRUE; }

// The message goes to standard output, and in a graphical session also to
// the desktop as a notification, which is what the user of a file manager
// sees. notify-send is not waited for: the message is shown by then or never,
// and a notification service that is slow to answer must not hold up the
// end of the run. If it is missing or fails, nothing else changes.
int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, unsigned) {
  printf("%s: %s\n", caption, text);
  fflush(stdout);
  if (InGraphicalSession()) {
    char program[] = "notify-send";
    char app_name[] = "--app-name=Talvek";
    char icon[] = "--icon=talvek";
    char options_end[] = "--";
    char *arguments[] = {program,
                         app_name,
                         icon,
                         options_end,
                         const_cast<char *>(caption),
                         const_cast<char *>(text),
                         nullptr};
    StartProgram(program, arguments);
  }
  return 1;
}

// Hands the address to xdg-open and does not wait for it. Without one, the
// address is printed so that the user can open it.
HINSTANCE ShellExecuteA(HWND, LPCSTR, LPCSTR file, LPCSTR, LPCSTR, int) {
  char opener[] = "xdg-open";
  char *arguments[] = {opener, const_cast<char *>(file), nullptr};
  pid_t pid;
  if (posix_spawnp(&pid, opener, nullptr, nullptr, arguments, environ) != 0) {
    printf("%s\n", file);
    fflush(stdout);
    return (HINSTANCE)(intptr_t)2;
  }
  return (HINSTANCE)(intptr_t)42;
}

}  // extern "C"
