/* pngcrush's last candidate: the input's own compressed image data.
 *
 * Written for Talvek in 2026 and compiled into its pngcrush.bin, with
 * pngcrush-10-never-larger.patch, which calls it once the last trial has
 * written the copy. An image saved by a tool that already optimizes often
 * beats every trial of pngcrush, which then wrote a copy larger than its
 * input. This candidate is the copy made of the input's own IHDR, PLTE,
 * tRNS and image data (its IDAT chunks joined into one), with the
 * ancillary chunks that the trial's copy kept, and nothing else; it
 * replaces the trial's copy when it is smaller, and only when the input's
 * every chunk has a right CRC and its image data decodes whole, with no
 * libpng error or warning. */
#ifndef PNGCRUSH_OWN_H
#define PNGCRUSH_OWN_H

/* What own_offer() did. */
#define OWN_NOT 0      /* the copy is the trial's, as it was */
#define OWN_WRITTEN 1  /* the copy now holds the input's own data */
#define OWN_BROKEN (-1) /* writing it failed: the trial's copy is lost */

/* Offers the input's own data against the trial's copy at COPY, and
 * writes it there when it makes a smaller file that may be kept. With
 * VERBOSE above 0, says which one stays and both sizes, or why the input's
 * data cannot be kept; with VERBOSE 0 or more, says when it was written.
 * The copy so written still goes to the last guard. */
int own_offer(const char *input, const char *copy, int verbose);

#endif
