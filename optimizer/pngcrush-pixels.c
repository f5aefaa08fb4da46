/* pngcrush's last guard: see pngcrush-pixels.h for what it checks, and
 * pngcrush-7-pixel-guard.patch for what pngcrush does when a copy fails it.
 *
 * Written for Talvek in 2026; under pngcrush's own licence.
 *
 * The input is read with the settings pngcrush reads it with (benign
 * errors as warnings, its size limits, checksums of the image data not
 * checked), so that the guard sees the pixels pngcrush saw; the copy is
 * read the same way. Ancillary chunks other than tRNS are skipped unread.
 * The two are read row by row (pass by pass for Adam7), in step, so that
 * memory stays at a few rows whatever the image's size; pngcrush 1.8.13
 * keeps the interlacing of its input, so a copy interlaced otherwise
 * fails.
 *
 * Built with PNGCRUSH_ABORT_ON_LOST_PIXELS, as the fuzzing build is, a
 * copy that fails aborts the program, so that the fuzzer keeps its input. */
#include "pngcrush-pixels.h"

#include "png.h"

#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* One of the two files being read. Kept static: they change between the
 * setjmp() and a libpng error's longjmp(). */
struct image
{
   const char *role;  /* "input" or "copy" */
   FILE *file;
   png_structp png;
   png_infop info;
   png_uint_32 width, height;
   int interlaced;
   int strict;        /* every warning fails, as any error does */
   png_bytep row;
};

static struct image images[2];
static jmp_buf failed;
static char failure[200];

static void on_error(png_structp png, png_const_charp message)
{
   struct image *image = (struct image *) png_get_error_ptr(png);

   snprintf(failure, sizeof failure, "the %s cannot be read: %s", image->role, message);
   longjmp(failed, 1);
}

static int warned;

/* A file read strictly fails at its first warning, once it has been read. */
static void on_warning(png_structp png, png_const_charp message)
{
   struct image *image = (struct image *) png_get_error_ptr(png);

   if (image->strict && !warned++)
      snprintf(failure, sizeof failure, "the %s has a fault: %s", image->role, message);
}

/* Opens NAME and reads its header, with the transformations to 16-bit
 * RGBA, and makes room for one row. */
static void open_image(struct image *image, const char *name)
{
   /* Every ancillary chunk libpng knows, but tRNS: nothing of them counts. */
   static const png_byte skipped[] =
      "bKGD\0cHRM\0cICP\0cLLI\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0mDCV\0oFFs\0"
      "pCAL\0pHYs\0sBIT\0sCAL\0sPLT\0sRGB\0tEXt\0tIME\0zTXt";

   image->file = fopen(name, "rb");
   if (image->file == NULL)
   {
      snprintf(failure, sizeof failure, "the %s cannot be opened", image->role);
      longjmp(failed, 1);
   }
   image->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, image, on_error, on_warning);
   if (image->png == NULL || (image->info = png_create_info_struct(image->png)) == NULL)
   {
      snprintf(failure, sizeof failure, "out of memory");
      longjmp(failed, 1);
   }
   png_init_io(image->png, image->file);
   /* As pngcrush reads its input; or strictly, every fault an error. */
#ifdef PNG_BENIGN_ERRORS_SUPPORTED
   png_set_benign_errors(image->png, !image->strict);
#endif
   png_set_user_limits(image->png, 500000L, 500000L);
   png_set_chunk_cache_max(image->png, 500);
   png_set_chunk_malloc_max(image->png, 2000000L);
   if (image->strict)
      png_set_crc_action(image->png, PNG_CRC_ERROR_QUIT, PNG_CRC_WARN_DISCARD);
   else
   {
#ifdef PNG_IGNORE_ADLER32
      png_set_option(image->png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
      png_set_crc_action(image->png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
   }
   png_set_keep_unknown_chunks(image->png, PNG_HANDLE_CHUNK_NEVER, NULL, 0);
   png_set_keep_unknown_chunks(image->png, PNG_HANDLE_CHUNK_NEVER, skipped,
       (int) (sizeof skipped / 5));
   png_read_info(image->png, image->info);
   image->width = png_get_image_width(image->png, image->info);
   image->height = png_get_image_height(image->png, image->info);
   image->interlaced = png_get_interlace_type(image->png, image->info) != PNG_INTERLACE_NONE;
   png_set_expand(image->png);
   png_set_expand_16(image->png);
   png_set_gray_to_rgb(image->png);
   png_set_add_alpha(image->png, 0xffff, PNG_FILLER_AFTER);
   png_read_update_info(image->png, image->info);
   if (png_get_rowbytes(image->png, image->info) != (size_t) image->width * 8)
      png_error(image->png, "not decoded to 16-bit RGBA");
   image->row = (png_bytep) malloc((size_t) image->width * 8);
   if (image->row == NULL)
      png_error(image->png, "out of memory");
}

static void close_image(struct image *image)
{
   if (image->png != NULL)
      png_destroy_read_struct(&image->png, &image->info, NULL);
   if (image->file != NULL)
      fclose(image->file);
   free(image->row);
   memset(image, 0, sizeof *image);
}

/* Says where the two rows first differ, (X0 + DX * k, Y), and returns 0;
 * 1 when the first COLUMNS pixels are equal. */
static int same_row(png_uint_32 columns, png_uint_32 x0, png_uint_32 dx, png_uint_32 y)
{
   const png_byte *a = images[0].row, *b = images[1].row;
   png_uint_32 k;
   int c;

   if (memcmp(a, b, (size_t) columns * 8) == 0)
      return 1;
   for (k = 0; memcmp(a + (size_t) k * 8, b + (size_t) k * 8, 8) == 0; k++)
      ;
   a += (size_t) k * 8;
   b += (size_t) k * 8;
   snprintf(failure, sizeof failure, "pixel (%lu, %lu) of the copy is RGBA",
       (unsigned long) (x0 + dx * k), (unsigned long) y);
   for (c = 0; c < 4; c++)
      snprintf(failure + strlen(failure), sizeof failure - strlen(failure), " %u",
          (unsigned) b[2 * c] << 8 | b[2 * c + 1]);
   snprintf(failure + strlen(failure), sizeof failure - strlen(failure), ", not");
   for (c = 0; c < 4; c++)
      snprintf(failure + strlen(failure), sizeof failure - strlen(failure), " %u",
          (unsigned) a[2 * c] << 8 | a[2 * c + 1]);
   return 0;
}

/* Compares the two open files pass by pass and row by row; 1 when every
 * pixel is equal. */
static int compare_rows(void)
{
   png_uint_32 width = images[0].width, height = images[0].height, columns, rows, r;
   int pass, passes = images[0].interlaced ? 7 : 1;

   for (pass = 0; pass < passes; pass++)
   {
      columns = passes == 1 ? width : PNG_PASS_COLS(width, pass);
      rows = passes == 1 ? height : PNG_PASS_ROWS(height, pass);
      /* libpng passes over the passes that hold no pixel. */
      if (columns == 0 || rows == 0)
         continue;
      for (r = 0; r < rows; r++)
      {
         png_read_row(images[0].png, images[0].row, NULL);
         png_read_row(images[1].png, images[1].row, NULL);
         if (passes == 1 && !same_row(columns, 0, 1, r))
            return 0;
         if (passes == 7 && !same_row(columns, PNG_PASS_START_COL(pass),
             PNG_PASS_COL_OFFSET(pass), PNG_ROW_FROM_PASS_ROW(r, pass)))
            return 0;
      }
   }
   return 1;
}

int pixels_whole(const char *name, char *why, size_t why_size)
{
   static volatile int whole;
   png_uint_32 rows, r;
   int pass, passes;

   whole = 0;
   warned = 0;
   memset(images, 0, sizeof images);
   images[0].role = "input";
   images[0].strict = 1;
   if (setjmp(failed) == 0)
   {
      open_image(&images[0], name);
      passes = images[0].interlaced ? 7 : 1;
      for (pass = 0; pass < passes && !warned; pass++)
      {
         rows = passes == 1 ? images[0].height : PNG_PASS_ROWS(images[0].height, pass);
         if ((passes == 1 ? images[0].width : PNG_PASS_COLS(images[0].width, pass)) == 0)
            continue;
         for (r = 0; r < rows && !warned; r++)
            png_read_row(images[0].png, images[0].row, NULL);
      }
      if (!warned)
         png_read_end(images[0].png, NULL);
      whole = !warned;
   }
   close_image(&images[0]);
   if (!whole)
      snprintf(why, why_size, "%s", failure);
   return whole;
}

int pixels_kept(const char *input, const char *copy, char *why, size_t why_size)
{
   static volatile int kept;

   kept = 0;
   warned = 0;
   memset(images, 0, sizeof images);
   images[0].role = "input";
   images[1].role = "copy";
   if (setjmp(failed) == 0)
   {
      open_image(&images[0], input);
      open_image(&images[1], copy);
      if (images[0].width != images[1].width || images[0].height != images[1].height)
         snprintf(failure, sizeof failure, "the copy is %lux%lu, not %lux%lu",
             (unsigned long) images[1].width, (unsigned long) images[1].height,
             (unsigned long) images[0].width, (unsigned long) images[0].height);
      else if (images[0].interlaced != images[1].interlaced)
         snprintf(failure, sizeof failure, "the copy is interlaced otherwise");
      else
      {
         kept = compare_rows();
         /* The copy must also end as a PNG file does. */
         if (kept)
            png_read_end(images[1].png, NULL);
      }
   }
   else
      kept = 0;
   close_image(&images[0]);
   close_image(&images[1]);
   if (!kept)
   {
      snprintf(why, why_size, "%s", failure);
#ifdef PNGCRUSH_ABORT_ON_LOST_PIXELS
      fprintf(stderr, "pngcrush: %s: lost pixels: %s\n", input, failure);
      abort();
#endif
   }
   return kept;
}
