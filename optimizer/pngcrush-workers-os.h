/* What the side-by-side trials (pngcrush-workers.c) ask of the system
 * they run on: its processors, a clock, a little shared memory, starting a
 * worker and reading its pipe, waiting for it within bounds and ending
 * it; and on the worker's side, its pipe to the parent and its silence.
 * win32/pngcrush-workers.c provides them for Windows, from Windows XP on,
 * and posix/pngcrush-workers.c for Linux; pngcrush-workers.c holds all
 * that both share.
 *
 * Written for Talvek in 2026; under pngcrush's own licence. */
#ifndef PNGCRUSH_WORKERS_OS_H
#define PNGCRUSH_WORKERS_OS_H

#include <stddef.h>
#include <stdint.h>

#define WORKER_VARIABLE "PNGCRUSH_AS_WORKER"
#define MAX_WORKERS 64
#define REPORT_SIZE 16384   /* a whole report is under 4 KiB */

/* What the parent and its workers share, changed only by atomic steps. */
struct shared
{
   volatile long next;          /* the place of the next trial to take */
   volatile unsigned long best; /* the least length recorded so far */
};

/* One worker as the parent sees it. */
struct worker
{
   intptr_t process;   /* its process: a handle on Windows, else its id */
   intptr_t pipe;      /* the read end of its pipe */
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

/* A clock in milliseconds, for the parent's patience. */
unsigned long os_now_ms(void);

/* The processors this process may run on. */
int os_processors(void);

/* The shared memory, which every worker is given as NUMBER; NULL where it
 * cannot be had (then the serial path runs). */
struct shared *os_make_shared(unsigned long *number);
struct shared *os_open_shared(unsigned long number);
void os_drop_shared(struct shared *view);

/* The parent's set-up and tidying around its workers. */
void os_begin(void);
void os_end(void);

/* Starts worker INDEX of COUNT: this program again, on the command line
 * ARGV, told its place and given its pipe and the shared memory. 1 when it
 * started. */
int os_start_worker(struct worker *w, int index, int count, unsigned long memory,
    char **argv);

/* Reads what the worker has sent so far, without waiting: the bytes read
 * into BUFFER, 0 when there are none yet, -1 at the end. */
long os_read_ready(struct worker *w, char *buffer, size_t size);

/* Waits a little for output from any of the COUNT workers still open. */
void os_pause_for_output(const struct worker *workers, int count);

/* Ends a worker: its parent has met an error, or lost patience. */
void os_stop_worker(struct worker *w);

/* Waits for the worker to end, within PATIENCE milliseconds before it is
 * ended, and notes how it ended. */
void os_await_worker(struct worker *w, unsigned long patience);

/* In the sanitizer builds: ends the parent as the worker ended. */
void os_end_as(const struct worker *w);

/* The worker's side: its pipe to the parent, from the number the parent
 * gave, and writing to it (a write that fails, the parent gone, ends the
 * worker); its output silenced and let through again. */
void os_open_channel(unsigned long number);
void os_send_text(const char *text);
void os_silence(void);
void os_unsilence(void);

/* Ends this worker at once, as a crash or Task Manager would; or holds it
 * for good, as an error dialog would. For the tests. */
void os_end_abruptly(void);
void os_hang(void);

#endif
