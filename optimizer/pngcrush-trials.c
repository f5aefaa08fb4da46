/* pngcrush's measuring trials with less work for the same lengths: see
 * pngcrush-trials.h for what each function does, and
 * pngcrush-9-less-work.patch for how pngcrush calls them and why the copy
 * stays the same.
 *
 * Written for Talvek in 2026; under pngcrush's own licence.
 *
 * One setting is for the tests: PNGCRUSH_TRIALS_IN_FULL=old runs every
 * measuring trial in full, with no bailing, in one process, each reading
 * the file as pngcrush always did, and prints each trial's length;
 * PNGCRUSH_TRIALS_IN_FULL=new does the same with the twins left out and
 * the rows kept. The two lists must be equal. */
#include "pngcrush-trials.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zlib.h"

#define MAX_TRIALS 200 /* pngcrush has 178 (0 to 177) */

/* The rows of all the processes that measure together are kept only
 * below this many bytes; above it, every trial reads the file. */
#define ROWS_CAP (64.0 * 1024 * 1024)

/* The zlib whose code the rules below were read against. Another one
 * (zlib-ng in zlib's stead, say) may dispatch levels and strategies
 * otherwise, so with it every trial is measured. */
#define TWINS_ZLIB "1.2.13"

/* When two trials with the same filter write the same compressed stream,
 * by zlib 1.2.13's own code (deflate.c and trees.c). pngcrush's strategies
 * (zs) are 0 default, 1 filtered, 2 Huffman codes only, 3 run-length. A
 * trial that a rule covers writes the stream of the trial with level LEVEL
 * (-1: its own) and strategy AS; two trials are twins when the rules take
 * both to one level and strategy. */
static const struct twin_rule
{
   int low, high; /* the levels it covers */
   int strategy;  /* the strategy it covers, or -1 for every one */
   int level, as;
} twin_rules[] = {
   /* Level 0 is deflate_stored whatever the strategy (deflate.c:1054); the
    * stream's header has FLEVEL 0 below level 2 (deflate.c:873), and every
    * block is stored at level 0 (trees.c:922). */
   {0, 0, -1, 0, 0},
   /* Huffman codes only are deflate_huff (deflate.c:1055), run-length is
    * deflate_rle (deflate.c:1056): neither reads what the level sets
    * (deflate.c:1254-1257, read only by deflate_fast, deflate_slow and
    * longest_match), FLEVEL is 0 for both (deflate.c:873), and trees.c:922
    * asks only whether the level is above 0. */
   {1, 9, 2, 1, 2},
   {1, 9, 3, 1, 3},
   /* Levels 1 to 3 are deflate_fast (deflate.c:131-133), which never reads
    * the strategy (only deflate_slow does, deflate.c:2023), and FLEVEL
    * comes from the level alone for both (deflate.c:873-880). */
   {1, 3, 1, -1, 0},
};

/* The level and strategy whose stream a trial writes. */
static void canonical(int level, int strategy, int *as_level, int *as_strategy)
{
   size_t i;

   *as_level = level;
   *as_strategy = strategy;
   for (i = 0; i < sizeof twin_rules / sizeof twin_rules[0]; i++)
   {
      const struct twin_rule *rule = &twin_rules[i];

      if (level >= rule->low && level <= rule->high &&
          (rule->strategy < 0 || strategy == rule->strategy))
      {
         if (rule->level >= 0)
            *as_level = rule->level;
         *as_strategy = rule->as;
         return;
      }
   }
}

static enum { FULL_NO, FULL_OLD, FULL_NEW } in_full = FULL_NO;

/* The trials of this file: which were to be measured, and each twin's
 * earlier twin (0: none). */
static char tried[MAX_TRIALS];
static int twin[MAX_TRIALS];

/* The rows kept: HEIGHT rows of LENGTH bytes, whole once a trial has read
 * every one into them; and how the current trial uses them. */
static png_bytep kept;
static png_size_t kept_length;
static png_uint_32 kept_height;
static int kept_whole, rows_mode, rows_said, verbosity;

int trials_plan(int *try_method, int last_method, const int *fm, const int *lv,
    const int *zs, int twins, int verbose)
{
   const char *full = getenv("PNGCRUSH_TRIALS_IN_FULL");
   int t, s, level, strategy, other_level, other_strategy;

   in_full = full == NULL ? FULL_NO : strcmp(full, "old") == 0 ? FULL_OLD : FULL_NEW;
   /* A new file: nothing kept from another. */
   free(kept);
   kept = NULL;
   kept_whole = rows_said = 0;
   verbosity = verbose;
   memset(twin, 0, sizeof twin);
   for (t = 0; t < MAX_TRIALS; t++)
      tried[t] = t > 0 && t < last_method && try_method[t] == 0;
   if (twins && strcmp(zlibVersion(), TWINS_ZLIB) != 0)
   {
      if (verbose > 0)
         fprintf(stderr, "   zlib %s is not zlib " TWINS_ZLIB ", whose code tells which"
             " trials are twins: every trial is measured\n", zlibVersion());
      twins = 0;
   }
   if (in_full == FULL_OLD || !twins)
      return in_full != FULL_NO;
   for (t = 1; t < last_method && t < MAX_TRIALS; t++)
   {
      if (!tried[t])
         continue;
      canonical(lv[t], zs[t], &level, &strategy);
      for (s = 1; s < t; s++)
      {
         canonical(lv[s], zs[s], &other_level, &other_strategy);
         if (tried[s] && twin[s] == 0 && fm[s] == fm[t] && other_level == level &&
             other_strategy == strategy)
         {
            twin[t] = s;
            try_method[t] = 1;
            break;
         }
      }
   }
   return in_full != FULL_NO;
}

int trials_in_full(void)
{
   return getenv("PNGCRUSH_TRIALS_IN_FULL") != NULL;
}

void trials_fill_twins(png_uint_32 *idat_length, int last_method)
{
   int t;

   for (t = 1; t < last_method && t < MAX_TRIALS; t++)
      if (twin[t] != 0)
         idat_length[t] = idat_length[twin[t]];
   if (in_full == FULL_NO)
      return;
   for (t = 1; t < last_method && t < MAX_TRIALS; t++)
      if (tried[t])
         printf("trial %d %lu\n", t, (unsigned long) idat_length[t]);
   fflush(stdout);
}

int trials_rows_begin(int last_trial, png_uint_32 height, png_size_t row_length,
    int processes)
{
   double bytes = (double) height * row_length;

   rows_mode = 0;
   if (last_trial || in_full == FULL_OLD || processes < 1)
      return 0;
   if (kept != NULL && (kept_height != height || kept_length != row_length))
   {
      free(kept);
      kept = NULL;
      kept_whole = 0;
   }
   if (kept == NULL)
   {
      if (bytes * processes <= ROWS_CAP && bytes >= 1)
         kept = (png_bytep) malloc((size_t) bytes);
      if (verbosity > 0 && !rows_said++)
         fprintf(stderr, kept != NULL ? "   Rows kept for the measuring trials:"
             " %.0f bytes a process, %d measuring\n" : "   Rows read in every"
             " measuring trial: %.0f bytes a process, %d measuring\n", bytes, processes);
      if (kept == NULL)
         return 0;
      kept_height = height;
      kept_length = row_length;
   }
   rows_mode = kept_whole ? 2 : 1;
   return rows_mode;
}

png_bytep trials_row(png_bytep row_buf, png_uint_32 y)
{
   return rows_mode != 0 && y < kept_height ? kept + (size_t) y * kept_length : row_buf;
}

void trials_rows_end(void)
{
   if (rows_mode == 1)
      kept_whole = 1;
}
