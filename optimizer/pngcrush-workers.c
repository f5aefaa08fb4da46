/* pngcrush's measuring trials side by side in worker processes: see
 * pngcrush-workers.h for what each function does, and
 * pngcrush-3-side-by-side.patch for how pngcrush calls them and why the
 * copy stays the same.
 *
 * Written for Talvek in 2026; under pngcrush's own licence.
 *
 * Of N processes that measure, the parent is one: it starts N - 1 workers,
 * new processes of its own program with the same command line, and tells
 * each its place in the environment variable PNGCRUSH_AS_WORKER ("worker
 * INDEX COUNT PIPE SHARED"). They share a little memory: the place of the
 * next trial to take, in pngcrush's order, and the least length any of
 * them has recorded, which each trial bails against as pngcrush's serial
 * loop does. The parent takes trials too, from its first measuring trial
 * on, while its workers start. Each worker reports on its own pipe, one
 * line at a time:
 *
 *     trial T LENGTH          a measured trial
 *     error T MESSAGE         a libpng error on trial T, which ended it
 *     timers S N S N S N S N  pngcrush's four timers
 *     end
 *
 * A report counts only when it is whole (it ends with "end") and the
 * worker ended normally. Whatever trial no such report measured, the
 * parent measures itself, so a worker that fails costs time, never bytes;
 * a worker's libpng error is such a failure too, since what failed there
 * (memory, the input changed meanwhile) may not fail in the parent, which
 * then meets the error itself if it is real. The parent never waits on a
 * worker without bound: one that it has not heard from for a while (see
 * worker_patience) is ended and counts as failed. Only the sanitizer
 * builds differ: there a worker's crash or sanitizer report ends the
 * parent the same way, so that the fuzzer and the tests see it.
 *
 * Two settings are for tests: PNGCRUSH_WORKERS=N has N processes measure,
 * whatever the processors and the image's size (1: the serial path), and
 * PNGCRUSH_WORKER_FAULT=K makes worker K (from 1) fail after its first
 * trial: it garbles its report and ends abruptly; with K:hang it hangs
 * instead, as a worker held by an error dialog would; with K:error it
 * reports a libpng error on its second trial. */
#ifdef __linux__
#  define _GNU_SOURCE /* sched_getaffinity, memfd_create */
#endif
#include "pngcrush-workers.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#  include <windows.h>
#  include <fcntl.h>
#  include <io.h>
#  define dup _dup
#  define dup2 _dup2
#  define open _open
#  define close _close
#  define NULL_DEVICE "NUL"
typedef HANDLE channel_t;
#else
#  include <errno.h>
#  include <fcntl.h>
#  include <poll.h>
#  include <sched.h>
#  include <signal.h>
#  include <sys/mman.h>
#  include <sys/wait.h>
#  include <time.h>
#  include <unistd.h>
#  ifdef __linux__
#    include <sys/prctl.h>
#  endif
#  define NULL_DEVICE "/dev/null"
typedef int channel_t;
#endif

/* In the sanitizer builds a worker's crash is a finding, not a fault to
 * work around. */
#if defined(__SANITIZE_ADDRESS__)
#  define CRASH_ENDS_PARENT 1
#elif defined(__has_feature)
#  if __has_feature(address_sanitizer)
#    define CRASH_ENDS_PARENT 1
#  endif
#endif
#ifndef CRASH_ENDS_PARENT
#  define CRASH_ENDS_PARENT 0
#endif

#define WORKER_VARIABLE "PNGCRUSH_AS_WORKER"
#define MAX_TRIALS 200      /* pngcrush has 178 (0 to 177) */
#define MAX_WORKERS 64
#define REPORT_SIZE 16384   /* a whole report is under 4 KiB */
#define MESSAGE_SIZE 400

/* How long the parent waits for a worker that it does not hear from:
 * PATIENCE_MS, and PATIENCE_FACTOR times the longest the parent itself
 * took for a trial or for what comes before its first measuring trial
 * (what a worker does before it reports anything). */
#define PATIENCE_MS 10000UL
#define PATIENCE_FACTOR 10UL

/* Images whose raw pixels (width x height x bytes per pixel, from the
 * header) come to less than 128 KiB take the serial path: starting the
 * workers would cost more than they save. Under Wine, where starting a
 * process takes about 0.1 s, two workers made a 148 x 148 RGB image
 * (64 KiB) of screen-like content 15 % slower, and one of 209 x 209
 * (128 KiB) no slower; photo-like content gains from about 64 KiB on. */
#define SIDE_BY_SIDE_MIN_BYTES 131072.0

/* What the parent and its workers share, changed only by atomic steps. */
struct shared
{
   volatile long next;          /* the place of the next trial to take */
   volatile unsigned long best; /* the least length recorded so far */
};

/* The measuring trials to run (try_method 0, from 1 to last_method - 1),
 * in order; worked out alike by the parent and by each worker. */
static int trials[MAX_TRIALS], trial_count;

/* This process as a worker: its place, where its report goes, and the
 * trial it has taken (0 when none is left). */
static int worker_index = -1, worker_count;
static channel_t worker_channel;
static struct shared *shared;
static int real_stdout = -1, real_stderr = -1;
static int taken;
static enum { FAULT_NONE, FAULT_GARBLE, FAULT_HANG, FAULT_ERROR } worker_fault;

/* The parent's command line, to start workers with. */
static char **saved_argv;

/* The parent: whether it takes trials, whether its workers still run, and
 * the lengths measured, its own and its workers'. */
static int claiming, running, helpers, wanted_trial[MAX_TRIALS];
static unsigned long measured_length[MAX_TRIALS];
static char measured[MAX_TRIALS];
static unsigned long timer_seconds[WORKERS_TIMERS], timer_nanoseconds[WORKERS_TIMERS];

/* The parent's clock, in milliseconds: when it started, when its current
 * trial started, and the longest it took for one (see PATIENCE_MS). */
static unsigned long started_at, trial_started_at, longest_ms;

/* One worker as the parent sees it. */
struct worker
{
#ifdef _WIN32
   HANDLE process, pipe;
#else
   pid_t pid;
   int pipe;
#endif
   int started;
   int open;           /* its pipe has not reached its end */
   unsigned long heard_at;
   char report[REPORT_SIZE + 1];
   size_t length;
   int overflow;
   int crashed;        /* ended by a crash or a sanitizer's report */
   int signalled;      /* ended by a signal */
   int status;         /* its exit status, or the signal */
   int ended_normally; /* exit status 0 */
};

static struct worker workers[MAX_WORKERS];

/* ---------------------------------------------------------------------- */
/* The platform: processors, shared memory, starting a worker, its pipe   */
/* and its end.                                                           */

#ifdef _WIN32

/* A clock in milliseconds, for the parent's patience. */
static unsigned long now_ms(void)
{
   return (unsigned long) GetTickCount();
}

/* The processors this process may run on. */
static int processors(void)
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
static struct shared *make_shared(unsigned long *number)
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

static struct shared *open_shared(unsigned long number)
{
   return (struct shared *) MapViewOfFile((HANDLE) (ULONG_PTR) number, FILE_MAP_WRITE,
       0, 0, sizeof (struct shared));
}

static void drop_shared(struct shared *view)
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
static void platform_begin(void)
{
   job = make_job();
   worker_stdout = inheritable(STD_OUTPUT_HANDLE);
   worker_stderr = inheritable(STD_ERROR_HANDLE);
}

static void platform_end(void)
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
static int start_worker(struct worker *w, int index, int count, unsigned long memory)
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
   w->process = process.hProcess;
   w->pipe = read_end;
   return 1;
}

/* Reads what the worker has sent so far, without waiting: the bytes read
 * into BUFFER, 0 when there are none yet, -1 at the end. */
static long read_ready(struct worker *w, char *buffer, size_t size)
{
   DWORD ready = 0, got = 0;

   if (!PeekNamedPipe(w->pipe, NULL, 0, NULL, &ready, NULL))
      return -1;
   if (ready == 0)
      return 0;
   if (!ReadFile(w->pipe, buffer, ready < size ? ready : (DWORD) size, &got, NULL))
      return -1;
   return (long) got;
}

/* Waits a little for the workers' output. */
static void pause_for_output(void)
{
   Sleep(10);
}

/* Ends a worker: its parent has met an error, or lost patience. */
static void stop_worker(struct worker *w)
{
   TerminateProcess(w->process, 1);
}

/* Waits for the worker to end, within PATIENCE milliseconds before it is
 * ended, and notes how it ended. */
static void await_worker(struct worker *w, unsigned long patience)
{
   DWORD code = 1;

   CloseHandle(w->pipe);
   if (WaitForSingleObject(w->process, patience) != WAIT_OBJECT_0)
   {
      TerminateProcess(w->process, 1);
      WaitForSingleObject(w->process, 5000);
   }
   if (!GetExitCodeProcess(w->process, &code) || code == STILL_ACTIVE)
      code = 1;
   CloseHandle(w->process);
   w->status = (int) code;
   w->ended_normally = code == 0;
}

/* The worker's side: its pipe from the number the parent gave, and
 * writing to it. A write fails once the parent is gone: the worker ends. */
static channel_t channel_from(unsigned long number)
{
   return (HANDLE) (ULONG_PTR) number;
}

static void send_text(const char *text)
{
   DWORD done, length = (DWORD) strlen(text);

   if (!WriteFile(worker_channel, text, length, &done, NULL) || done != length)
      ExitProcess(1);
}

/* Ends this worker at once, as a crash or Task Manager would. */
static void end_abruptly(void)
{
   TerminateProcess(GetCurrentProcess(), 9);
}

/* Holds this worker for good, as an error dialog would. */
static void hang(void)
{
   for (;;)
      Sleep(1000);
}

#else /* POSIX */

static unsigned long now_ms(void)
{
   struct timespec now;

   clock_gettime(CLOCK_MONOTONIC, &now);
   return (unsigned long) now.tv_sec * 1000UL + (unsigned long) now.tv_nsec / 1000000UL;
}

static int processors(void)
{
#ifdef __linux__
   cpu_set_t set;

   if (sched_getaffinity(0, sizeof set, &set) == 0)
      return CPU_COUNT(&set);
#endif
   return (int) sysconf(_SC_NPROCESSORS_ONLN);
}

static int mapping = -1;

/* The shared memory, in a file with no name whose descriptor every worker
 * inherits, given to them as NUMBER (Linux only; elsewhere the serial path
 * runs). */
static struct shared *make_shared(unsigned long *number)
{
   void *view = MAP_FAILED;

#ifdef __linux__
   mapping = memfd_create("pngcrush-workers", 0);
#endif
   if (mapping < 0)
      return NULL;
   if (ftruncate(mapping, sizeof (struct shared)) == 0)
      view = mmap(NULL, sizeof (struct shared), PROT_READ | PROT_WRITE, MAP_SHARED,
          mapping, 0);
   if (view == MAP_FAILED)
   {
      close(mapping);
      return NULL;
   }
   *number = (unsigned long) mapping;
   return (struct shared *) view;
}

static struct shared *open_shared(unsigned long number)
{
   void *view = mmap(NULL, sizeof (struct shared), PROT_READ | PROT_WRITE, MAP_SHARED,
       (int) number, 0);

   close((int) number);
   return view == MAP_FAILED ? NULL : (struct shared *) view;
}

static void drop_shared(struct shared *view)
{
   munmap(view, sizeof (struct shared));
   close(mapping);
   mapping = -1;
}

/* While the workers run, SIGCHLD has its default action: were it ignored,
 * the system would reap them itself, and how they ended would be lost. */
static struct sigaction saved_sigchld;

static void platform_begin(void)
{
   struct sigaction action;

   memset(&action, 0, sizeof action);
   action.sa_handler = SIG_DFL;
   sigemptyset(&action.sa_mask);
   sigaction(SIGCHLD, &action, &saved_sigchld);
}

static void platform_end(void)
{
   sigaction(SIGCHLD, &saved_sigchld, NULL);
}

/* Starts worker INDEX of COUNT: this program again, on the same command
 * line. Its pipe's read end, and every other worker's, is closed on exec;
 * on Linux the worker is killed when the parent ends. Only this program
 * itself may be a worker: where /proc/self/exe cannot be run, no worker
 * starts, and the serial path runs. */
static int start_worker(struct worker *w, int index, int count, unsigned long memory)
{
   int ends[2];
   pid_t parent = getpid(), pid;

   if (pipe(ends) != 0)
      return 0;
   fcntl(ends[0], F_SETFD, FD_CLOEXEC);
   fcntl(ends[1], F_SETFD, FD_CLOEXEC);
   pid = fork();
   if (pid == 0)
   {
      char value[80];

#ifdef __linux__
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent)
         _exit(1);
#endif
      fcntl(ends[1], F_SETFD, 0);
      sprintf(value, "worker %d %d %d %lu", index, count, ends[1], memory);
      setenv(WORKER_VARIABLE, value, 1);
#ifdef __linux__
      execv("/proc/self/exe", saved_argv);
#endif
      _exit(127);
   }
   (void) parent;
   close(ends[1]);
   if (pid < 0)
   {
      close(ends[0]);
      return 0;
   }
   fcntl(ends[0], F_SETFL, O_NONBLOCK);
   w->pid = pid;
   w->pipe = ends[0];
   return 1;
}

static long read_ready(struct worker *w, char *buffer, size_t size)
{
   ssize_t got;

   do
      got = read(w->pipe, buffer, size);
   while (got < 0 && errno == EINTR);
   if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
      return 0;
   return got <= 0 ? -1 : (long) got;
}

/* Waits up to a tenth of a second for output from any worker. */
static void pause_for_output(void)
{
   struct pollfd pipes[MAX_WORKERS];
   int index, count = 0;

   for (index = 0; index < MAX_WORKERS; index++)
      if (workers[index].started && workers[index].open)
      {
         pipes[count].fd = workers[index].pipe;
         pipes[count].events = POLLIN;
         count++;
      }
   poll(pipes, (nfds_t) count, 100);
}

static void stop_worker(struct worker *w)
{
   kill(w->pid, SIGKILL);
}

static void await_worker(struct worker *w, unsigned long patience)
{
   unsigned long since = now_ms();
   struct timespec moment = {0, 1000000};
   int status = 0, killed = 0;
   pid_t done;

   close(w->pipe);
   for (;;)
   {
      done = waitpid(w->pid, &status, killed ? 0 : WNOHANG);
      if (done == w->pid || (done < 0 && errno != EINTR))
         break;
      if (done == 0 && now_ms() - since > patience)
      {
         kill(w->pid, SIGKILL);
         killed = 1;
      }
      else if (done == 0)
         nanosleep(&moment, NULL);
   }
   /* Not waited for (ECHILD): how it ended is unknown, so not normally. */
   if (done != w->pid)
   {
      w->ended_normally = 0;
      w->status = 1;
      return;
   }
   w->ended_normally = WIFEXITED(status) && WEXITSTATUS(status) == 0;
   if (WIFSIGNALED(status))
   {
      w->signalled = 1;
      w->status = WTERMSIG(status);
      /* Killed from outside, or by a broken pipe, is not a crash. */
      w->crashed = w->status != SIGKILL && w->status != SIGTERM &&
          w->status != SIGINT && w->status != SIGPIPE;
   }
   else
   {
      w->status = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
      /* A sanitizer's report ends the process with a status of its own. */
      w->crashed = w->status != 0;
   }
}

static channel_t channel_from(unsigned long number)
{
   return (int) number;
}

static void send_text(const char *text)
{
   size_t length = strlen(text);

   while (length > 0)
   {
      ssize_t done = write(worker_channel, text, length);

      if (done < 0 && errno == EINTR)
         continue;
      if (done <= 0)
         _exit(1);
      text += done;
      length -= (size_t) done;
   }
}

static void end_abruptly(void)
{
   raise(SIGKILL);
}

static void hang(void)
{
   for (;;)
      pause();
}

#endif

/* ---------------------------------------------------------------------- */
/* Shared by both sides.                                                  */

/* Reads COUNT numbers, each after one blank, from TEXT; REST is what
 * follows them. Returns 1 when all are there. */
static int numbers(const char *text, unsigned long *values, int count, const char **rest)
{
   char *end;
   int i;

   for (i = 0; i < count; i++)
   {
      if (text[0] != ' ' || text[1] < '0' || text[1] > '9')
         return 0;
      values[i] = strtoul(text + 1, &end, 10);
      text = end;
   }
   *rest = text;
   return 1;
}

/* Lists the measuring trials in pngcrush's order. */
static void list_trials(const int *try_method, int last_method)
{
   int trial;

   trial_count = 0;
   for (trial = 1; trial < last_method && trial < MAX_TRIALS; trial++)
      if (try_method[trial] == 0)
         trials[trial_count++] = trial;
}

/* ---------------------------------------------------------------------- */
/* The worker's side.                                                     */

void workers_startup(int argc, char **argv)
{
   const char *place = getenv(WORKER_VARIABLE), *fault, *rest;
   unsigned long value[4];
   int quiet;

   started_at = now_ms();
   saved_argv = (char **) malloc((size_t) (argc + 1) * sizeof *saved_argv);
   if (saved_argv != NULL)
   {
      memcpy(saved_argv, argv, (size_t) argc * sizeof *saved_argv);
      saved_argv[argc] = NULL;
   }
   if (place == NULL)
      return;
   /* A worker that cannot be one ends, rather than run as a whole
    * pngcrush and write the copy. */
   if (strncmp(place, "worker", 6) != 0 || !numbers(place + 6, value, 4, &rest) ||
       *rest != '\0' || value[1] < 1 || value[1] > MAX_WORKERS || value[0] >= value[1] ||
       (shared = open_shared(value[3])) == NULL)
      exit(1);
   worker_index = (int) value[0];
   worker_count = (int) value[1];
   worker_channel = channel_from(value[2]);
   fault = getenv("PNGCRUSH_WORKER_FAULT");
   if (fault != NULL && atoi(fault) == worker_index + 1)
      worker_fault = strstr(fault, ":hang") ? FAULT_HANG :
          strstr(fault, ":error") ? FAULT_ERROR : FAULT_GARBLE;
   /* The parent says all that comes before the measuring trials. */
   fflush(stdout);
   fflush(stderr);
   real_stdout = dup(1);
   real_stderr = dup(2);
   quiet = open(NULL_DEVICE, O_WRONLY);
   if (quiet >= 0)
   {
      dup2(quiet, 1);
      dup2(quiet, 2);
      close(quiet);
   }
}

int workers_is_worker(void)
{
   return worker_index >= 0;
}

/* Takes the next trial that no process has taken, or 0 when none is left.
 * The trials go out in pngcrush's order, as the workers come free, so that
 * the early ones set the least length, and every worker keeps busy to the
 * end. */
static int take_next(void)
{
   long place = __sync_fetch_and_add(&shared->next, 1);

   return place < trial_count ? trials[place] : 0;
}

void workers_share(const int *try_method, int last_method)
{
   if (worker_index < 0)
      return;
   list_trials(try_method, last_method);
   taken = take_next();
   fflush(stdout);
   fflush(stderr);
   if (real_stdout >= 0)
      dup2(real_stdout, 1);
   if (real_stderr >= 0)
      dup2(real_stderr, 2);
}

int workers_turn(int trial, unsigned long *best)
{
   unsigned long least;

   if (worker_index < 0 && !claiming)
      return 1;
   least = shared->best;

   if (least < *best)
      *best = least;
   if (trial == taken)
      trial_started_at = now_ms();
   return trial == taken;
}

void workers_report(int trial, unsigned long length)
{
   char line[64];
   unsigned long least;

   if (worker_index < 0 && !claiming)
      return;
   /* The least length recorded by any process: only ever lowered. */
   while ((least = shared->best) > length &&
       !__sync_bool_compare_and_swap(&shared->best, least, length))
      ;
   if (claiming)
   {
      measured[trial] = 1;
      measured_length[trial] = length;
      if (now_ms() - trial_started_at > longest_ms)
         longest_ms = now_ms() - trial_started_at;
      taken = take_next();
      return;
   }
   sprintf(line, "trial %d %lu\n", trial, length);
   send_text(line);
   if (worker_fault == FAULT_GARBLE)
   {
      send_text("garbled\n");
      end_abruptly();
   }
   if (worker_fault == FAULT_HANG)
      hang();
   taken = take_next();
   if (worker_fault == FAULT_ERROR && taken != 0)
      workers_report_error(taken, "planted error");
}

/* Ends a worker whose report is sent. */
static void end_worker(void)
{
   send_text("end\n");
   fflush(stdout);
   fflush(stderr);
   exit(0);
}

void workers_report_error(int trial, const char *message)
{
   char line[MESSAGE_SIZE + 32];
   size_t at;

   if (worker_index < 0)
      return;
   sprintf(line, "error %d ", trial);
   at = strlen(line);
   for (; message != NULL && *message != '\0' && at < sizeof line - 2; message++)
      line[at++] = (unsigned char) *message < ' ' ? ' ' : *message;
   line[at++] = '\n';
   line[at] = '\0';
   send_text(line);
   end_worker();
}

void workers_finish(const unsigned long *seconds, const unsigned long *nanoseconds)
{
   char line[256];
   int i;

   if (worker_index < 0)
      return;
   strcpy(line, "timers");
   for (i = 0; i < WORKERS_TIMERS; i++)
      sprintf(line + strlen(line), " %lu %lu", seconds[i], nanoseconds[i]);
   strcat(line, "\n");
   send_text(line);
   end_worker();
}

/* ---------------------------------------------------------------------- */
/* The parent's side.                                                     */

/* The raw size of the image's pixels, from its header: width x height x
 * bytes per pixel. 0 when the file does not start as a PNG file does. */
static double image_bytes(const char *name)
{
   static const unsigned char signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
   unsigned char head[26];
   double width, height, channels;
   FILE *file = fopen(name, "rb");
   size_t got = 0;

   if (file != NULL)
   {
      got = fread(head, 1, sizeof head, file);
      fclose(file);
   }
   if (got != sizeof head || memcmp(head, signature, 8) != 0 ||
       memcmp(head + 12, "IHDR", 4) != 0)
      return 0;
   width = (double) ((unsigned long) head[16] << 24 | (unsigned long) head[17] << 16 |
       (unsigned long) head[18] << 8 | head[19]);
   height = (double) ((unsigned long) head[20] << 24 | (unsigned long) head[21] << 16 |
       (unsigned long) head[22] << 8 | head[23]);
   switch (head[25])
   {
      case 0: case 3: channels = 1; break;
      case 4: channels = 2; break;
      case 2: channels = 3; break;
      case 6: channels = 4; break;
      default: return 0;
   }
   return width * height * channels * head[24] / 8;
}

/* How many processes are to measure the trials of the image IN_NAME. */
static int workers_wanted(const char *in_name)
{
   const char *forced = getenv("PNGCRUSH_WORKERS");
   int count;

   if (forced != NULL && *forced != '\0')
      count = atoi(forced);
   else if (image_bytes(in_name) < SIDE_BY_SIDE_MIN_BYTES)
      return 1;
   else
      count = processors();
   if (count > MAX_WORKERS)
      count = MAX_WORKERS;
   return count < trial_count ? count : trial_count;
}

/* How long the parent waits, in milliseconds, for a worker it does not
 * hear from (see PATIENCE_MS). */
static unsigned long worker_patience(void)
{
   return PATIENCE_MS + PATIENCE_FACTOR * longest_ms;
}

/* Reads what a worker has sent so far into its buffer, as far as it goes;
 * notes when it was last heard from, and when its pipe reached its end. */
static void read_some(struct worker *w)
{
   char spill[4096];
   long got;

   for (;;)
   {
      if (w->length < REPORT_SIZE)
         got = read_ready(w, w->report + w->length, REPORT_SIZE - w->length);
      else
      {
         got = read_ready(w, spill, sizeof spill);
         w->overflow |= got > 0;
      }
      if (got < 0)
         w->open = 0;
      if (got <= 0)
         break;
      w->heard_at = now_ms();
      if (w->length < REPORT_SIZE)
         w->length += (size_t) got;
   }
   w->report[w->length] = '\0';
}

/* Reads every worker's report to its end. A worker not heard from for
 * longer than the parent's patience is ended: its report, cut short,
 * counts for nothing. */
static void read_reports(void)
{
   unsigned long patience = worker_patience();
   int index, open;

   for (index = 0; index < MAX_WORKERS; index++)
   {
      workers[index].open = workers[index].started;
      workers[index].heard_at = now_ms();
   }
   for (;;)
   {
      open = 0;
      for (index = 0; index < MAX_WORKERS; index++)
      {
         struct worker *w = &workers[index];

         if (!w->started || !w->open)
            continue;
         read_some(w);
         if (w->open && now_ms() - w->heard_at > patience)
         {
            stop_worker(w);
            w->open = 0;
         }
         open += w->open;
      }
      if (open == 0)
         break;
      pause_for_output();
   }
}

/* Adds a time in seconds and nanoseconds to another. */
static void add_time(unsigned long *seconds, unsigned long *nanoseconds,
    unsigned long more_seconds, unsigned long more_nanoseconds)
{
   *nanoseconds += more_nanoseconds % 1000000000;
   *seconds += more_seconds + more_nanoseconds / 1000000000 + *nanoseconds / 1000000000;
   *nanoseconds %= 1000000000;
}

/* Whether TRIAL, a number read from a report, is one of the trials. */
static int is_trial(unsigned long trial, const int *wanted)
{
   return trial < MAX_TRIALS && wanted[trial];
}

/* Checks a worker's report and, when it is whole, takes its lengths and
 * timers. A trial that met a libpng error is left for the parent. */
static void take_report(struct worker *w, const int *wanted)
{
   unsigned long length[MAX_TRIALS], seconds[WORKERS_TIMERS] = {0},
       nanoseconds[WORKERS_TIMERS] = {0}, value[2 * WORKERS_TIMERS];
   char seen[MAX_TRIALS];
   char *line = w->report, *next;
   const char *rest;
   int trial, erred = 0, ended = 0, i;

   if (!w->ended_normally || w->overflow)
      return;
   memset(seen, 0, sizeof seen);
   for (; *line != '\0'; line = next)
   {
      next = strchr(line, '\n');
      if (next == NULL || ended)
         return;
      *next++ = '\0';
      if (strncmp(line, "trial", 5) == 0 && numbers(line + 5, value, 2, &rest) &&
          *rest == '\0' && is_trial(value[0], wanted) && !seen[value[0]] &&
          value[1] <= 0xffffffffUL)
      {
         seen[value[0]] = 1;
         length[value[0]] = value[1];
      }
      else if (strncmp(line, "error", 5) == 0 && numbers(line + 5, value, 1, &rest) &&
          *rest == ' ' && is_trial(value[0], wanted) && !seen[value[0]] && !erred)
         erred = 1;
      else if (strncmp(line, "timers", 6) == 0 &&
          numbers(line + 6, value, 2 * WORKERS_TIMERS, &rest) && *rest == '\0')
         for (i = 0; i < WORKERS_TIMERS; i++)
         {
            seconds[i] = value[2 * i];
            nanoseconds[i] = value[2 * i + 1];
         }
      else if (strcmp(line, "end") == 0)
         ended = 1;
      else
         return;
   }
   if (!ended)
      return;
   for (trial = 1; trial < MAX_TRIALS; trial++)
      if (seen[trial] && !measured[trial])
      {
         measured[trial] = 1;
         measured_length[trial] = length[trial];
      }
   for (i = 0; i < WORKERS_TIMERS; i++)
      add_time(&timer_seconds[i], &timer_nanoseconds[i], seconds[i], nanoseconds[i]);
}

/* In the sanitizer builds: ends the parent as the worker ended, by the
 * same signal or with the same status. */
static void end_as(const struct worker *w)
{
#ifndef _WIN32
   fprintf(stderr, "pngcrush: a worker ended by %s %d\n",
       w->signalled ? "signal" : "status", w->status);
   fflush(stdout);
   fflush(stderr);
   if (w->signalled)
   {
      signal(w->status, SIG_DFL);
      raise(w->status);
   }
   _exit(w->status & 0xff ? w->status & 0xff : 1);
#else
   (void) w;
#endif
}

int workers_begin(const char *in_name, const int *try_method, int last_method)
{
   unsigned long memory;
   int count, index, i;

   static int begun;

   /* Once a process: side by side is for one file. */
   helpers = 0;
   if (worker_index >= 0 || saved_argv == NULL || begun++)
      return 0;
   /* What a worker does before it reports: the parent's time so far. */
   longest_ms = now_ms() - started_at;
   list_trials(try_method, last_method);
   count = workers_wanted(in_name);
   if (count < 2 || (shared = make_shared(&memory)) == NULL)
      return 0;
   shared->next = 0;
   shared->best = 0xffffffffUL;
   memset(wanted_trial, 0, sizeof wanted_trial);
   for (i = 0; i < trial_count; i++)
      wanted_trial[trials[i]] = 1;
   memset(measured, 0, sizeof measured);
   memset(timer_seconds, 0, sizeof timer_seconds);
   memset(timer_nanoseconds, 0, sizeof timer_nanoseconds);

   fflush(stdout);
   fflush(stderr);
   platform_begin();
   for (index = 0; index < count - 1; index++)
   {
      memset(&workers[index], 0, sizeof workers[index]);
      workers[index].started = start_worker(&workers[index], index, count - 1, memory);
      helpers += workers[index].started;
   }
   if (helpers == 0)
   {
      platform_end();
      drop_shared(shared);
      return 0;
   }
   /* The parent takes trials too, from now on, as its workers start. */
   claiming = running = 1;
   taken = take_next();
   return helpers + 1;
}

/* Reads and waits for every worker still running, taking the whole
 * reports when TAKE is set, and gives back the shared memory. */
static void end_workers(int take)
{
   int index;

   read_reports();
   for (index = 0; index < MAX_WORKERS; index++)
   {
      struct worker *w = &workers[index];

      if (!w->started)
         continue;
      await_worker(w, worker_patience());
      w->started = 0;
      if (CRASH_ENDS_PARENT && take && w->crashed)
         end_as(w);
      if (take)
         take_report(w, wanted_trial);
   }
   platform_end();
   drop_shared(shared);
   shared = NULL;
   claiming = running = 0;
}

int workers_collect(int *try_method)
{
   int i, first = 0;

   if (!running)
      return 0;
   end_workers(1);
   /* Whatever no process measured, the parent measures now. */
   for (i = trial_count - 1; i >= 0; i--)
   {
      try_method[trials[i]] = measured[trials[i]];
      if (!measured[trials[i]])
         first = trials[i];
   }
   return first;
}

void workers_abandon(void)
{
   int index;

   if (!running)
      return;
   for (index = 0; index < MAX_WORKERS; index++)
      if (workers[index].started)
         stop_worker(&workers[index]);
   end_workers(0);
}

int workers_claiming(void)
{
   return claiming;
}

int workers_length(int trial, unsigned long *length)
{
   if (trial < 0 || trial >= MAX_TRIALS || !measured[trial])
      return 0;
   *length = measured_length[trial];
   return 1;
}

void workers_add_timers(unsigned long *seconds, unsigned long *nanoseconds)
{
   int i;

   for (i = 0; i < WORKERS_TIMERS; i++)
      add_time(&seconds[i], &nanoseconds[i], timer_seconds[i], timer_nanoseconds[i]);
}
