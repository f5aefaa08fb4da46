// Programs on POSIX, given their Windows effects: the process's own command
// line and executable, and starting the optimizer and waiting for it. A
// command line is split as the Windows C runtime splits it, and the child
// starts with vfork, which is the cheapest start there is. Each run is
// told to the report (progress.cpp); on a terminal the wait also draws its
// status line and reads the optimizer's messages.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cmdline.h"
#include "internal.h"
#include "path.h"
#include "platform.h"
#include "progress.h"
#include "system.h"

namespace {

// The longest command line Windows takes.
constexpr size_t kLineSize = 32768;
constexpr int kMostArguments = 256;
constexpr int kMostOperands = 8;

int g_argument_count;
const char *const *g_arguments;
char g_command_line[kLineSize];
bool g_command_line_ready;

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

// Waits on a terminal until the child is ending, drawing the status line
// when it is due and reading the child's messages as they come. The end of
// its messages, or its end through a pidfd, wakes the wait at once; with
// neither a pipe nor a pidfd, the plain wait that follows does. Either way
// the child is reaped after, by that plain wait.
void AwaitOnTerminal(pid_t pid) {
  int messages = progress::Messages(pid);
  int process = -1;
#ifdef SYS_pidfd_open
  process = (int)syscall(SYS_pidfd_open, pid, 0);
#endif
  for (;;) {
    struct pollfd watched[2];
    nfds_t count = 0;
    if (process >= 0) watched[count++] = {process, POLLIN, 0};
    if (messages >= 0) watched[count++] = {messages, POLLIN, 0};
    if (count == 0) break;
    int ready = poll(watched, count, progress::UntilDue());
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0) {
      // The end of the messages comes as the child closes its files on its
      // way out, just before its end wakes the pidfd: the plain wait then
      // saves a second wake-up for every image.
      if (messages >= 0 && watched[count - 1].revents != 0 &&
          !progress::ReadMessages()) {
        break;
      }
      if (process >= 0 && watched[0].revents != 0) break;
    }
    progress::Tick();
  }
  if (process >= 0) close(process);
}

}  // namespace

// vfork is the cheapest way to start a process: no page tables are copied
// and no stack allocated. The child shares our memory until it executes the
// program, so it makes only system calls, and leaves the reason in failure
// if it cannot start it; we stay suspended until then.
pid_t posix::StartProgram(const char *program, char *const *arguments,
                          int output) {
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
      if (dup2(fd > 0 && output >= 0 ? output : no_terminal, fd) < 0) {
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
    errno = failure;
    return -1;
  }
  return pid;
}

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

// No code page here has double-byte characters.
BOOL IsDBCSLeadByte(BYTE) { return FALSE; }

// The running executable's real path, links resolved, cut to fit.
DWORD GetModuleFileNameA(HINSTANCE, LPSTR name, DWORD size) {
  if (size == 0) return 0;
  char real[posix::kPathSize];
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

// Starts the program that the command line's first token names, with the
// arguments split as the Windows runtime splits them. The child has no
// terminal: its standard streams are /dev/null, or on a terminal its output
// goes to the report. File operands that exist only in another case are
// handed over in their real spelling. The last two arguments are the
// optimizer's input and output, for the report.
BOOL CreateProcessA(LPCSTR application, LPSTR command_line,
                    SECURITY_ATTRIBUTES *, SECURITY_ATTRIBUTES *, BOOL, DWORD,
                    LPVOID, LPCSTR, STARTUPINFOA *,
                    PROCESS_INFORMATION *process) {
  char line[kLineSize];
  if (!posix::ToSystemPath(command_line, line, sizeof line)) return FALSE;
  char *arguments[kMostArguments + 1];
  int count = cmdline::SplitCommandLine(line, arguments, kMostArguments);
  if (count < 1) return FALSE;
  arguments[count] = nullptr;

  char operands[kMostOperands][posix::kPathSize];
  int used = 0;
  for (int i = 1; i < count && used < kMostOperands; i++) {
    if (!IsOperand(arguments[i])) continue;
    if (posix::ResolvePath(arguments[i], operands[used], posix::kPathSize,
                           IsBareName(arguments[i]))) {
      arguments[i] = operands[used++];
    }
  }

  const char *program = application != nullptr ? application : arguments[0];
  if (program[0] == '\0') return FALSE;

  bool reported = progress::Keeping() && count >= 3;
  int output = -1;
  if (reported) {
    output = progress::Starting(arguments[count - 2], arguments[count - 1]);
  }
  pid_t pid = posix::StartProgram(program, arguments, output);
  if (reported) progress::Started(pid, errno, program);
  if (pid < 0) return FALSE;
  process->hProcess = ProcessHandle(pid);
  process->hThread = ThreadHandle(pid);
  process->dwProcessId = (DWORD)pid;
  process->dwThreadId = (DWORD)pid;
  return TRUE;
}

// Waits until the child has ended; the only wait the driver asks for is
// the infinite one. Off a terminal this is one blocking waitpid.
DWORD WaitForSingleObject(HANDLE handle, DWORD) {
  pid_t pid = HandleProcess(handle);
  if (progress::OnTerminal()) AwaitOnTerminal(pid);
  int status;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return 0xFFFFFFFFUL;
  }
  progress::Ended(pid, status);
  return 0;
}

// A child is reaped by the wait, so there is nothing left to release.
BOOL CloseHandle(HANDLE) { return TRUE; }

}  // extern "C"
