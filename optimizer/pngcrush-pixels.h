/* pngcrush's last guard: a copy must keep every pixel of its input.
 *
 * Written for Talvek in 2026 and compiled into its pngcrush.bin, with
 * pngcrush-7-pixel-guard.patch, which calls it once the copy is written.
 * Both files are decoded as pngcrush reads its input, into 16-bit RGBA
 * samples (palette and tRNS expanded, grey widened, an opaque alpha where
 * there is none, no gamma), and every sample must be equal. */
#ifndef PNGCRUSH_PIXELS_H
#define PNGCRUSH_PIXELS_H

#include <stddef.h>

/* Room enough for what pixels_kept() says. */
#define PIXELS_WHY_SIZE 300

/* Whether the file COPY has every pixel of the file INPUT: 1 when it has;
 * 0 when a pixel differs or either file cannot be decoded, with the
 * reason in WHY. */
int pixels_kept(const char *input, const char *copy, char *why, size_t why_size);

/* Whether the file NAME decodes whole, with no libpng error nor warning:
 * every chunk's CRC right, the image data's checksum right and none of it
 * left over; its ancillary chunks but tRNS are passed over. 1 when it
 * does; 0 otherwise, with the reason in WHY. */
int pixels_whole(const char *name, char *why, size_t why_size);

#endif
