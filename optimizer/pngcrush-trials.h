/* pngcrush's measuring trials with less work for the same lengths: twin
 * trials measured once, and the image's rows decoded once.
 *
 * Written for Talvek in 2026 and compiled into its pngcrush.bin, with
 * pngcrush-9-less-work.patch, which calls these functions and explains
 * why the copy stays byte for byte the one of every trial run in full.
 *
 * A twin is a trial whose compressed stream, by zlib 1.2.13's own code, is
 * that of an earlier trial with the same filter: it is not run, and takes
 * that trial's length. The rows that reach the writer are the same in
 * every measuring trial after trial 0, so the first measuring trial of a
 * process keeps them, below a cap, and the later ones write from them
 * instead of reading the file again. */
#ifndef PNGCRUSH_TRIALS_H
#define PNGCRUSH_TRIALS_H

#include "png.h"

/* Before trial 1 of a file, once, in every process alike: forgets the
 * rows of another file and, when TWINS is set and the zlib linked is the
 * one the rules rest on, leaves out the twins among the trials to run
 * (try_method 0, from 1 to last_method - 1), noting each one's earlier
 * twin. fm, lv and zs are pngcrush's table of methods; with VERBOSE above
 * 0, whether the rows are kept, and another zlib, are said. Returns
 * nonzero when every trial must run in full, with no bailing (the tests'
 * PNGCRUSH_TRIALS_IN_FULL). */
int trials_plan(int *try_method, int last_method, const int *fm, const int *lv,
    const int *zs, int twins, int verbose);

/* Nonzero when the tests ask for every trial in full, one process alone. */
int trials_in_full(void);

/* Before the choice: every twin's length is its earlier twin's. With
 * PNGCRUSH_TRIALS_IN_FULL, prints every trial's length, "trial N LENGTH". */
void trials_fill_twins(png_uint_32 *idat_length, int last_method);

/* Before a trial's rows, of HEIGHT rows of ROW_LENGTH bytes: whether they
 * are written from kept rows (2), read and kept for later trials (1), or
 * read as before (0). Only measuring trials keep or use rows, and only
 * when PROCESSES of them together stay under the cap. */
int trials_rows_begin(int last_trial, png_uint_32 height, png_size_t row_length,
    int processes);

/* The row to read row Y into, or to write it from: a kept row, or ROW_BUF. */
png_bytep trials_row(png_bytep row_buf, png_uint_32 y);

/* After every row of the trial was read: the rows kept are whole. */
void trials_rows_end(void);

#endif
