/* The side-by-side trials' needs on Windows, from Windows XP on (see
 * pngcrush-workers-os.h): GetProcessAffinityMask, not the processor-count
 * functions of Windows 7; shared memory in a paging-file mapping whose
 * handle the workers inherit; pipes, and a job object that ends every
 * worker when pngcrush.bin ends, however it ends.
 *
 * Written for Talvek in 2026; under pngcrush's own licence. */
#include "pngcrush-workers-os.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#define PROCESS(w) ((HANDLE) (w)->process)
#define PIPE(w) ((HANDLE) (w)->pipe)

/* A clock in milliseconds, for the parent's patience. */
unsigned long os_now_ms(void)
{
   return (unsigned long) GetTickCount();
}

/* The processors this process may run on. */
int os_processors(void)
{
   DWORD_PTR mine, system;
   int count = 0;

   if (!GetProcessAffinityMask(GetCurrentProcess(), &mine, &system))
      return 1;
   for (; mine != 0; mine &= mine - 1)
      count++;
   return count;
}

static HANDLE job, mapping, worker_stdout, worker_stderr;

/* The shared memory, with a handle that every worker inherits, given to
 * them as NUMBER. */
struct shared *os_make_shared(unsigned long *number)
{
   SECURITY_ATTRIBUTES inherited = {sizeof inherited, NULL, TRUE};
   void *view;

   mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, &inherited, PAGE_READWRITE,
       0, sizeof (struct shared), NULL);
   if (mapping == NULL)
      return NULL;
   view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof (struct shared));
   if (view == NULL)
      CloseHandle(mapping);
   *number = (unsigned long) (ULONG_PTR) mapping;
   return (struct shared *) view;
}

struct shared *os_open_shared(unsigned long number)
{
   return (struct shared *) MapViewOfFile((HANDLE) (ULONG_PTR) number, FILE_MAP_WRITE,
       0, 0, sizeof (struct shared));
}

void os_drop_shared(struct shared *view)
{
   UnmapViewOfFile(view);
   CloseHandle(mapping);
}

/* A job that ends every worker when pngcrush.bin ends, however it ends;
 * its handle is not inherited. NULL where jobs cannot be had. */
static HANDLE make_job(void)
{
   JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
   HANDLE made = CreateJobObjectA(NULL, NULL);

   if (made == NULL)
      return NULL;
   memset(&limits, 0, sizeof limits);
   limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
   if (!SetInformationJobObject(made, JobObjectExtendedLimitInformation,
       &limits, sizeof limits))
   {
      CloseHandle(made);
      return NULL;
   }
   return made;
}

/* An inheritable copy of a standard handle, for the workers' output. */
static HANDLE inheritable(DWORD which)
{
   HANDLE handle = GetStdHandle(which), copy;

   if (handle == NULL || handle == INVALID_HANDLE_VALUE ||
       !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(),
       &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
      return NULL;
   return copy;
}

/* The parent's set-up and tidying around its workers. */
void os_begin(void)
{
   job = make_job();
   worker_stdout = inheritable(STD_OUTPUT_HANDLE);
   worker_stderr = inheritable(STD_ERROR_HANDLE);
}

void os_end(void)
{
   if (worker_stdout != NULL)
      CloseHandle(worker_stdout);
   if (worker_stderr != NULL)
      CloseHandle(worker_stderr);
   if (job != NULL)
      CloseHandle(job);
   job = worker_stdout = worker_stderr = NULL;
}

/* Starts worker INDEX of COUNT, with no console of its own (it shares
 * pngcrush.bin's, windowless under Talvek), below normal priority, in the
 * job when it can be. Pipes are made uninheritable and only this worker's
 * end is made inheritable around its own start: Windows XP has no list of
 * the handles to inherit, and a worker holding another's pipe would keep
 * that pipe from ever breaking. The worker inherits an error mode in which
 * a crash ends it at once, with no dialog left waiting for a click. */
int os_start_worker(struct worker *w, int index, int count, unsigned long memory,
    char **argv)
{
   static char command[32768];
   char path[MAX_PATH + 1], value[80];
   SECURITY_ATTRIBUTES attributes = {sizeof attributes, NULL, FALSE};
   STARTUPINFOA startup;
   PROCESS_INFORMATION process;
   HANDLE read_end, write_end;
   DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
   UINT mode;
   BOOL ok;

   if (length == 0 || length >= sizeof path ||
       strlen(GetCommandLineA()) >= sizeof command ||
       !CreatePipe(&read_end, &write_end, &attributes, REPORT_SIZE))
      return 0;
   /* The command line as Windows holds it, quotes and all. */
   (void) argv;
   strcpy(command, GetCommandLineA());
   sprintf(value, "worker %d %d %lu %lu", index, count,
       (unsigned long) (ULONG_PTR) write_end, memory);
   memset(&startup, 0, sizeof startup);
   startup.cb = sizeof startup;
   startup.dwFlags = STARTF_USESTDHANDLES;
   startup.hStdOutput = worker_stdout;
   startup.hStdError = worker_stderr;

   SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
   SetEnvironmentVariableA(WORKER_VARIABLE, value);
   mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
   ok = CreateProcessA(path, command, NULL, NULL, TRUE,
       CREATE_SUSPENDED | BELOW_NORMAL_PRIORITY_CLASS, NULL, NULL,
       &startup, &process);
   SetErrorMode(mode);
   SetEnvironmentVariableA(WORKER_VARIABLE, NULL);
   /* From here the worker holds the only write end. */
   CloseHandle(write_end);
   if (!ok)
   {
      CloseHandle(read_end);
      return 0;
   }
   /* Before Windows 8 a process already in a job joins no other: the
    * worker then ends at its next report once pngcrush.bin is gone. */
   if (job != NULL)
      AssignProcessToJobObject(job, process.hProcess);
   ResumeThread(process.hThread);
   CloseHandle(process.hThread);
   w->process = (intptr_t) process.hProcess;
   w->pipe = (intptr_t) read_end;
   return 1;
}

/* Reads what the worker has sent so far, without waiting: the bytes read
 * into BUFFER, 0 when there are none yet, -1 at the end. */
long os_read_ready(struct worker *w, char *buffer, size_t size)
{
   DWORD ready = 0, got = 0;

   if (!PeekNamedPipe(PIPE(w), NULL, 0, NULL, &ready, NULL))
      return -1;
   if (ready == 0)
      return 0;
   if (!ReadFile(PIPE(w), buffer, ready < size ? ready : (DWORD) size, &got, NULL))
      return -1;
   return (long) got;
}

/* A pipe cannot be waited on in Windows XP: the parent looks again after
 * a moment. */
void os_pause_for_output(const struct worker *workers, int count)
{
   (void) workers;
   (void) count;
   Sleep(10);
}

/* Ends a worker: its parent has met an error, or lost patience. */
void os_stop_worker(struct worker *w)
{
   TerminateProcess(PROCESS(w), 1);
}

/* Waits for the worker to end, within PATIENCE milliseconds before it is
 * ended, and notes how it ended. */
void os_await_worker(struct worker *w, unsigned long patience)
{
   DWORD code = 1;

   CloseHandle(PIPE(w));
   if (WaitForSingleObject(PROCESS(w), patience) != WAIT_OBJECT_0)
   {
      TerminateProcess(PROCESS(w), 1);
      WaitForSingleObject(PROCESS(w), 5000);
   }
   if (!GetExitCodeProcess(PROCESS(w), &code) || code == STILL_ACTIVE)
      code = 1;
   CloseHandle(PROCESS(w));
   w->status = (int) code;
   w->ended_normally = code == 0;
}

/* The worker's side. */
static HANDLE channel;
static int real_stdout = -1, real_stderr = -1;

void os_open_channel(unsigned long number)
{
   channel = (HANDLE) (ULONG_PTR) number;
}

void os_send_text(const char *text)
{
   DWORD done, length = (DWORD) strlen(text);

   if (!WriteFile(channel, text, length, &done, NULL) || done != length)
      ExitProcess(1);
}

void os_silence(void)
{
   int quiet;

   fflush(stdout);
   fflush(stderr);
   real_stdout = _dup(1);
   real_stderr = _dup(2);
   quiet = _open("NUL", _O_WRONLY);
   if (quiet >= 0)
   {
      _dup2(quiet, 1);
      _dup2(quiet, 2);
      _close(quiet);
   }
}

void os_unsilence(void)
{
   fflush(stdout);
   fflush(stderr);
   if (real_stdout >= 0)
      _dup2(real_stdout, 1);
   if (real_stderr >= 0)
      _dup2(real_stderr, 2);
}

/* Nothing to do: a crash of a worker is a fault worked around here. */
void os_end_as(const struct worker *w)
{
   (void) w;
}

/* Ends this worker at once, as a crash or Task Manager would. */
void os_end_abruptly(void)
{
   TerminateProcess(GetCurrentProcess(), 9);
}

/* Holds this worker for good, as an error dialog would. */
void os_hang(void)
{
   for (;;)
      Sleep(1000);
}
