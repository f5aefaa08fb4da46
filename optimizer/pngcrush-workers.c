/* pngcrush's measuring trials side by side in worker processes: see
 * pngcrush-workers.h for what each function does, and
 * pngcrush-3-side-by-side.patch for how pngcrush calls them and why the
 * copy stays the same. This file holds what Windows and Linux share; what
 * differs lies in win32/ and posix/ (pngcrush-workers-os.h).
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
 * reports a libpng error on its second trial; with K:first it ends
 * abruptly as soon as it has taken its first trial, and the parent lets
 * a worker take trial 1 before it takes any. */
#include "pngcrush-workers.h"
#include "pngcrush-workers-os.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

#define MAX_TRIALS 200      /* pngcrush has 178 (0 to 177) */
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

/* The measuring trials to run (try_method 0, from 1 to last_method - 1),
 * in order; worked out alike by the parent and by each worker. */
static int trials[MAX_TRIALS], trial_count;

/* This process as a worker: its place, and the trial it has taken (0 when
 * none is left); the memory the processes share. */
static int worker_index = -1, worker_count;
static struct shared *shared;
static int taken;
static enum { FAULT_NONE, FAULT_GARBLE, FAULT_HANG, FAULT_ERROR, FAULT_FIRST } worker_fault;

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

static struct worker workers[MAX_WORKERS];

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

   started_at = os_now_ms();
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
       (shared = os_open_shared(value[3])) == NULL)
      exit(1);
   worker_index = (int) value[0];
   worker_count = (int) value[1];
   os_open_channel(value[2]);
   fault = getenv("PNGCRUSH_WORKER_FAULT");
   if (fault != NULL && atoi(fault) == worker_index + 1)
      worker_fault = strstr(fault, ":hang") ? FAULT_HANG :
          strstr(fault, ":error") ? FAULT_ERROR :
          strstr(fault, ":first") ? FAULT_FIRST : FAULT_GARBLE;
   /* The parent says all that comes before the measuring trials. */
   os_silence();
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
   if (worker_fault == FAULT_FIRST)
      os_end_abruptly();
   os_unsilence();
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
      trial_started_at = os_now_ms();
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
      if (os_now_ms() - trial_started_at > longest_ms)
         longest_ms = os_now_ms() - trial_started_at;
      taken = take_next();
      return;
   }
   sprintf(line, "trial %d %lu\n", trial, length);
   os_send_text(line);
   if (worker_fault == FAULT_GARBLE)
   {
      os_send_text("garbled\n");
      os_end_abruptly();
   }
   if (worker_fault == FAULT_HANG)
      os_hang();
   taken = take_next();
   if (worker_fault == FAULT_ERROR && taken != 0)
      workers_report_error(taken, "planted error");
}

/* Ends a worker whose report is sent. */
static void end_worker(void)
{
   os_send_text("end\n");
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
   os_send_text(line);
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
   os_send_text(line);
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
      count = os_processors();
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
         got = os_read_ready(w, w->report + w->length, REPORT_SIZE - w->length);
      else
      {
         got = os_read_ready(w, spill, sizeof spill);
         w->overflow |= got > 0;
      }
      if (got < 0)
         w->open = 0;
      if (got <= 0)
         break;
      w->heard_at = os_now_ms();
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
      workers[index].heard_at = os_now_ms();
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
         if (w->open && os_now_ms() - w->heard_at > patience)
         {
            os_stop_worker(w);
            w->open = 0;
         }
         open += w->open;
      }
      if (open == 0)
         break;
      os_pause_for_output(workers, MAX_WORKERS);
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

int workers_begin(const char *in_name, const int *try_method, int last_method)
{
   unsigned long memory;
   const char *fault;
   int count, index, i;

   static int begun;

   /* Once a process: side by side is for one file. */
   helpers = 0;
   if (worker_index >= 0 || saved_argv == NULL || begun++)
      return 0;
   /* What a worker does before it reports: the parent's time so far. */
   longest_ms = os_now_ms() - started_at;
   list_trials(try_method, last_method);
   count = workers_wanted(in_name);
   if (count < 2 || (shared = os_make_shared(&memory)) == NULL)
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
   os_begin();
   for (index = 0; index < count - 1; index++)
   {
      memset(&workers[index], 0, sizeof workers[index]);
      workers[index].started = os_start_worker(&workers[index], index, count - 1, memory,
          saved_argv);
      helpers += workers[index].started;
   }
   if (helpers == 0)
   {
      os_end();
      os_drop_shared(shared);
      return 0;
   }
   /* The parent takes trials too, from now on, as its workers start; for
    * the tests' fault on a worker's first trial, once one has taken
    * trial 1. */
   claiming = running = 1;
   fault = getenv("PNGCRUSH_WORKER_FAULT");
   while (fault != NULL && strstr(fault, ":first") && shared->next == 0 &&
       os_now_ms() - started_at < longest_ms + PATIENCE_MS)
      os_pause_for_output(workers, MAX_WORKERS);
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
      os_await_worker(w, worker_patience());
      w->started = 0;
      if (CRASH_ENDS_PARENT && take && w->crashed)
         os_end_as(w);
      if (take)
         take_report(w, wanted_trial);
   }
   os_end();
   os_drop_shared(shared);
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
         os_stop_worker(&workers[index]);
   end_workers(0);
}

int workers_claiming(void)
{
   return claiming;
}

int workers_processes(void)
{
   if (worker_index >= 0)
      return worker_count + 1;
   return claiming ? helpers + 1 : 1;
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
