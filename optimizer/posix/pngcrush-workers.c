/* The side-by-side trials' needs on Linux (see pngcrush-workers-os.h):
 * the processors of the affinity mask, shared memory in a memfd that the
 * workers inherit, workers started by fork and /proc/self/exe and killed
 * when the parent ends (PR_SET_PDEATHSIG), and pipes read without
 * blocking. Elsewhere there is no memfd, and the serial path runs.
 *
 * Written for Talvek in 2026; under pngcrush's own licence. */
#ifdef __linux__
#  define _GNU_SOURCE /* sched_getaffinity, memfd_create */
#endif
#include "pngcrush-workers-os.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#  include <sys/prctl.h>
#endif

unsigned long os_now_ms(void)
{
   struct timespec now;

   clock_gettime(CLOCK_MONOTONIC, &now);
   return (unsigned long) now.tv_sec * 1000UL + (unsigned long) now.tv_nsec / 1000000UL;
}

int os_processors(void)
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
struct shared *os_make_shared(unsigned long *number)
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

struct shared *os_open_shared(unsigned long number)
{
   void *view = mmap(NULL, sizeof (struct shared), PROT_READ | PROT_WRITE, MAP_SHARED,
       (int) number, 0);

   close((int) number);
   return view == MAP_FAILED ? NULL : (struct shared *) view;
}

void os_drop_shared(struct shared *view)
{
   munmap(view, sizeof (struct shared));
   close(mapping);
   mapping = -1;
}

/* While the workers run, SIGCHLD has its default action: were it ignored,
 * the system would reap them itself, and how they ended would be lost. */
static struct sigaction saved_sigchld;

void os_begin(void)
{
   struct sigaction action;

   memset(&action, 0, sizeof action);
   action.sa_handler = SIG_DFL;
   sigemptyset(&action.sa_mask);
   sigaction(SIGCHLD, &action, &saved_sigchld);
}

void os_end(void)
{
   sigaction(SIGCHLD, &saved_sigchld, NULL);
}

/* Starts worker INDEX of COUNT: this program again, on the same command
 * line. Its pipe's read end, and every other worker's, is closed on exec;
 * on Linux the worker is killed when the parent ends. Only this program
 * itself may be a worker: where /proc/self/exe cannot be run, no worker
 * starts, and the serial path runs. */
int os_start_worker(struct worker *w, int index, int count, unsigned long memory,
    char **argv)
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
      execv("/proc/self/exe", argv);
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
   w->process = pid;
   w->pipe = ends[0];
   return 1;
}

long os_read_ready(struct worker *w, char *buffer, size_t size)
{
   ssize_t got;

   do
      got = read((int) w->pipe, buffer, size);
   while (got < 0 && errno == EINTR);
   if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
      return 0;
   return got <= 0 ? -1 : (long) got;
}

/* Waits up to a tenth of a second for output from any worker. */
void os_pause_for_output(const struct worker *workers, int count)
{
   struct pollfd pipes[MAX_WORKERS];
   int index, open = 0;

   for (index = 0; index < count && index < MAX_WORKERS; index++)
      if (workers[index].started && workers[index].open)
      {
         pipes[open].fd = (int) workers[index].pipe;
         pipes[open].events = POLLIN;
         open++;
      }
   poll(pipes, (nfds_t) open, 100);
}

void os_stop_worker(struct worker *w)
{
   kill((pid_t) w->process, SIGKILL);
}

void os_await_worker(struct worker *w, unsigned long patience)
{
   unsigned long since = os_now_ms();
   struct timespec moment = {0, 1000000};
   int status = 0, killed = 0;
   pid_t done;

   close((int) w->pipe);
   for (;;)
   {
      done = waitpid((pid_t) w->process, &status, killed ? 0 : WNOHANG);
      if (done == (pid_t) w->process || (done < 0 && errno != EINTR))
         break;
      if (done == 0 && os_now_ms() - since > patience)
      {
         kill((pid_t) w->process, SIGKILL);
         killed = 1;
      }
      else if (done == 0)
         nanosleep(&moment, NULL);
   }
   /* Not waited for (ECHILD): how it ended is unknown, so not normally. */
   if (done != (pid_t) w->process)
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

/* The worker's side. */
static int channel = -1, real_stdout = -1, real_stderr = -1;

void os_open_channel(unsigned long number)
{
   channel = (int) number;
}

void os_send_text(const char *text)
{
   size_t length = strlen(text);

   while (length > 0)
   {
      ssize_t done = write(channel, text, length);

      if (done < 0 && errno == EINTR)
         continue;
      if (done <= 0)
         _exit(1);
      text += done;
      length -= (size_t) done;
   }
}

void os_silence(void)
{
   int quiet;

   fflush(stdout);
   fflush(stderr);
   real_stdout = dup(1);
   real_stderr = dup(2);
   quiet = open("/dev/null", O_WRONLY);
   if (quiet >= 0)
   {
      dup2(quiet, 1);
      dup2(quiet, 2);
      close(quiet);
   }
}

void os_unsilence(void)
{
   fflush(stdout);
   fflush(stderr);
   if (real_stdout >= 0)
      dup2(real_stdout, 1);
   if (real_stderr >= 0)
      dup2(real_stderr, 2);
}

/* Ends the parent as the worker ended, by the same signal or with the
 * same status. */
void os_end_as(const struct worker *w)
{
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
}

void os_end_abruptly(void)
{
   raise(SIGKILL);
}

void os_hang(void)
{
   for (;;)
      pause();
}
