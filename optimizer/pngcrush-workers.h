/* pngcrush's measuring trials side by side in worker processes.
 *
 * Written for Talvek in 2026 and compiled into its pngcrush.bin, with
 * pngcrush-3-side-by-side.patch, which calls these functions and explains
 * why the copy stays byte for byte the one of the serial run.
 *
 * A worker is pngcrush.bin started again, on the same command line, by
 * pngcrush.bin itself. It runs exactly what the parent ran up to the first
 * measuring trial (the options, the measuring pass and trial 0), quietly,
 * then takes the measuring trials one at a time, in order, as it comes
 * free, and reports each trial's length to the parent through a pipe. The
 * parent takes trials the same way meanwhile. A worker never writes the
 * copy. */
#ifndef PNGCRUSH_WORKERS_H
#define PNGCRUSH_WORKERS_H

/* pngcrush's timers (total, decode, encode, other), as seconds and
 * nanoseconds, passed from the workers to the parent. */
#define WORKERS_TIMERS 4

/* Called first in main(): remembers the command line for the workers, and
 * in a worker, silences its output until its own trials begin. */
void workers_startup(int argc, char **argv);

/* Nonzero in a worker. */
int workers_is_worker(void);

/* Worker, before trial 1: takes its first trial, and lets its output
 * through again. */
void workers_share(const int *try_method, int last_method);

/* Worker, or the parent while it takes trials, before each measuring
 * trial: whether the trial is its own, and the least length any process
 * has recorded, for bailing, in *best. */
int workers_turn(int trial, unsigned long *best);

/* Worker, or the parent while it takes trials: reports one measured
 * trial, the length it came to, and takes its next trial. */
void workers_report(int trial, unsigned long length);

/* Worker: reports the libpng error that ended its trial, and ends; the
 * parent measures that trial itself. */
void workers_report_error(int trial, const char *message);

/* Worker: reports its timers once no trial is left, and ends. */
void workers_finish(const unsigned long *seconds, const unsigned long *nanoseconds);

/* Parent, before its first measuring trial: when there is more than one
 * processor to be had (or PNGCRUSH_WORKERS asks for more than one) and the
 * image named in_name is large enough to be worth it, starts workers for
 * the trials whose try_method is 0, from 1 to last_method - 1, and takes
 * trials itself too. Returns how many processes measure, or 0 when the
 * serial path runs. */
int workers_begin(const char *in_name, const int *try_method, int last_method);

/* Parent: nonzero while it takes trials beside its workers. */
int workers_claiming(void);

/* How many processes measure the trials together: 1 on the serial path. */
int workers_processes(void);

/* Parent, before its last trial: waits for its workers, within bounds,
 * and takes their lengths. Whatever trial no one measured is left for it
 * (try_method 0, every other 1), and the first of them is returned; 0
 * when none is left. */
int workers_collect(int *try_method);

/* Parent, after a libpng error of its own: ends its workers. */
void workers_abandon(void);

/* Parent: the length measured for a trial while side by side, if it was. */
int workers_length(int trial, unsigned long *length);

/* Parent: adds the workers' timers to the ones given. */
void workers_add_timers(unsigned long *seconds, unsigned long *nanoseconds);

#endif
