/* pngcrush's last candidate, the input's own compressed image data: see
 * pngcrush-own.h for what it is, and pngcrush-10-never-larger.patch for
 * when pngcrush offers it.
 *
 * Written for Talvek in 2026; under pngcrush's own licence.
 *
 * The candidate is, in this order: the PNG signature; the input's IHDR;
 * the chunks of the trial's copy that come before its image data, but for
 * PLTE and tRNS; the input's PLTE and tRNS, when it has them; one IDAT
 * holding all of the input's image data as it is (an input with more than
 * fits in one chunk is not offered); the chunks of the trial's copy after
 * its image data; IEND. The files are read as they are: pngcrush
 * has closed the copy by then, and the input is read whole once to check
 * every CRC and once more to copy its image data, which is never held in
 * memory. */
#include "pngcrush-own.h"
#include "pngcrush-pixels.h"

#include "png.h"
#include "zlib.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define CHUNK_MOST 0x7fffffffUL  /* the longest chunk a PNG file may hold */
#define KEPT_MOST (16UL << 20)   /* the most of the copy's chunks kept */
#define BLOCK 65536

static const unsigned char signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

/* Chunks kept in memory, whole (length, type, data and CRC), one after
 * another. */
struct chunks
{
   unsigned char *bytes;
   size_t size;
};

/* What is taken from the input: its IHDR's data, its PLTE and tRNS whole,
 * and the length of its image data. */
struct input
{
   unsigned char ihdr[13];
   struct chunks plte, trns;
   double image_data;
};

/* What is taken from the trial's copy: its size, and its chunks before and
 * after the image data. */
struct copy
{
   double size;
   struct chunks before, after;
};

static unsigned char block[BLOCK];
static char why[PIXELS_WHY_SIZE];

static unsigned long be32(const unsigned char *bytes)
{
   return (unsigned long) bytes[0] << 24 | (unsigned long) bytes[1] << 16 |
       (unsigned long) bytes[2] << 8 | bytes[3];
}

static void put32(unsigned char *bytes, unsigned long value)
{
   bytes[0] = (unsigned char) (value >> 24);
   bytes[1] = (unsigned char) (value >> 16);
   bytes[2] = (unsigned char) (value >> 8);
   bytes[3] = (unsigned char) value;
}

/* Appends a whole chunk to a list; 0 when memory or the bound runs out. */
static int keep(struct chunks *list, const unsigned char *head,
    const unsigned char *data, unsigned long length, const unsigned char *crc)
{
   unsigned char *more;

   if (list->size + length + 12 > KEPT_MOST ||
       (more = (unsigned char *) realloc(list->bytes, list->size + length + 12)) == NULL)
      return 0;
   list->bytes = more;
   memcpy(more + list->size, head, 8);
   memcpy(more + list->size + 8, data, length);
   memcpy(more + list->size + 8 + length, crc, 4);
   list->size += length + 12;
   return 1;
}

/* A chunk's head (length and type) and CRC, read from a file. */
struct chunk
{
   unsigned char head[8], crc[4];
   unsigned long length;
   int crc_right;
};

/* Reads the next chunk's head; 0 when the file ends, or the bytes are no
 * chunk's head. */
static int read_head(FILE *file, struct chunk *chunk)
{
   int i;

   if (fread(chunk->head, 1, 8, file) != 8)
      return 0;
   chunk->length = be32(chunk->head);
   for (i = 4; i < 8; i++)
      if (!((chunk->head[i] >= 'A' && chunk->head[i] <= 'Z') ||
            (chunk->head[i] >= 'a' && chunk->head[i] <= 'z')))
         return 0;
   return chunk->length <= CHUNK_MOST;
}

/* Reads the chunk's data and CRC, and checks the CRC. The data goes to
 * DATA when given, and to OUT when given, whose running CRC is *OUT_CRC.
 * 0 when the file ends first, or OUT cannot be written. */
static int read_body(FILE *file, struct chunk *chunk, unsigned char *data, FILE *out,
    unsigned long *out_crc)
{
   unsigned long crc = crc32(0, chunk->head + 4, 4), left;

   for (left = chunk->length; left > 0; )
   {
      size_t part = left < BLOCK ? (size_t) left : BLOCK;

      if (fread(block, 1, part, file) != part)
         return 0;
      crc = crc32(crc, block, (uInt) part);
      if (data != NULL)
      {
         memcpy(data, block, part);
         data += part;
      }
      if (out != NULL)
      {
         if (fwrite(block, 1, part, out) != part)
            return 0;
         *out_crc = crc32(*out_crc, block, (uInt) part);
      }
      left -= part;
   }
   if (fread(chunk->crc, 1, 4, file) != 4)
      return 0;
   chunk->crc_right = be32(chunk->crc) == crc;
   return 1;
}

static int is(const struct chunk *chunk, const char *type)
{
   return memcmp(chunk->head + 4, type, 4) == 0;
}

/* Reads the input to its IEND: its IHDR, its PLTE and tRNS, and the length
 * of its image data. 0, with the reason in why, when any chunk's CRC is
 * wrong, the file is cut short, or its chunks are not where a PNG file
 * has them (which libpng would refuse or pass over). */
static int read_input(const char *name, struct input *input)
{
   unsigned char data[768];
   FILE *file = fopen(name, "rb");
   struct chunk chunk;
   int chunks_read = 0, idat = 0; /* 0 before the image data, 1 in it, 2 after */
   int small, ok = 0;

   if (file == NULL)
   {
      snprintf(why, sizeof why, "the input cannot be read");
      return 0;
   }
   if (fread(block, 1, 8, file) != 8 || memcmp(block, signature, 8) != 0)
      snprintf(why, sizeof why, "the input is no PNG file");
   else for (;;)
   {
      if (!read_head(file, &chunk) ||
          !read_body(file, &chunk, (small = chunk.length <= sizeof data) ? data : NULL,
          NULL, NULL))
      {
         snprintf(why, sizeof why, "the input is cut short, or not made of chunks");
         break;
      }
      if (!chunk.crc_right)
      {
         snprintf(why, sizeof why, "a CRC error in the input's %.4s chunk", chunk.head + 4);
         break;
      }
      if (!chunks_read++ && (!is(&chunk, "IHDR") || chunk.length != 13))
      {
         snprintf(why, sizeof why, "the input does not begin with IHDR");
         break;
      }
      if (is(&chunk, "IHDR"))
      {
         if (chunks_read > 1)
         {
            snprintf(why, sizeof why, "the input has two IHDR chunks");
            break;
         }
         memcpy(input->ihdr, data, 13);
      }
      if (idat == 1 && !is(&chunk, "IDAT"))
         idat = 2;
      if (is(&chunk, "IDAT"))
      {
         if (idat == 2)
         {
            snprintf(why, sizeof why, "the input's image data is split by other chunks");
            break;
         }
         idat = 1;
         input->image_data += chunk.length;
      }
      else if (is(&chunk, "PLTE") || is(&chunk, "tRNS"))
      {
         struct chunks *list = is(&chunk, "PLTE") ? &input->plte : &input->trns;

         if (idat != 0 || list->size != 0 || !small ||
             !keep(list, chunk.head, data, chunk.length, chunk.crc))
         {
            snprintf(why, sizeof why, "the input's %.4s chunk is out of place", chunk.head + 4);
            break;
         }
      }
      else if (is(&chunk, "IEND"))
      {
         ok = idat != 0 && input->image_data <= CHUNK_MOST;
         if (!ok)
            snprintf(why, sizeof why, "the input's image data does not fit one chunk");
         break;
      }
   }
   fclose(file);
   return ok;
}

/* Reads the trial's copy: its size and the chunks it keeps before and after
 * its image data. 0 when it holds a chunk whose meaning depends on the
 * colour type written (-reduce changes it), which the input's header would
 * not fit. */
static int read_copy(const char *name, struct copy *copy)
{
   FILE *file = fopen(name, "rb");
   struct chunk chunk;
   unsigned char *data;
   int idat = 0, ok = 0, kept;

   if (file == NULL)
   {
      snprintf(why, sizeof why, "the copy cannot be read");
      return 0;
   }
   copy->size = 8;
   if (fread(block, 1, 8, file) == 8)
      while (read_head(file, &chunk))
      {
         copy->size += chunk.length + 12.0;
         if (is(&chunk, "bKGD") || is(&chunk, "sBIT") || is(&chunk, "hIST"))
         {
            snprintf(why, sizeof why, "the copy keeps a %.4s chunk", chunk.head + 4);
            break;
         }
         if (is(&chunk, "IDAT"))
            idat = 1;
         /* Every chunk but the ones the input gives, kept in the order
          * written. */
         data = NULL;
         kept = !is(&chunk, "IHDR") && !is(&chunk, "PLTE") && !is(&chunk, "tRNS") &&
             !is(&chunk, "IDAT") && !is(&chunk, "IEND");
         if (kept && (chunk.length > KEPT_MOST ||
             (data = (unsigned char *) malloc(chunk.length + 1)) == NULL))
         {
            snprintf(why, sizeof why, "the copy keeps too much besides its image");
            break;
         }
         if (!read_body(file, &chunk, data, NULL, NULL) ||
             (kept && !keep(idat ? &copy->after : &copy->before, chunk.head, data,
             chunk.length, chunk.crc)))
         {
            free(data);
            snprintf(why, sizeof why, "the copy cannot be read, or keeps too much");
            break;
         }
         free(data);
         if (is(&chunk, "IEND"))
         {
            ok = 1;
            break;
         }
      }
   if (!ok && why[0] == '\0')
      snprintf(why, sizeof why, "the copy cannot be read");
   fclose(file);
   return ok;
}

/* The candidate's size in bytes. */
static double own_size(const struct input *input, const struct copy *copy)
{
   return 8 + 25 + copy->before.size + input->plte.size + input->trns.size +
       12 + input->image_data + copy->after.size + 12;
}

/* Writes SIZE bytes, when there are any. */
static int put(FILE *out, const unsigned char *bytes, size_t size)
{
   return size == 0 || fwrite(bytes, 1, size, out) == size;
}

/* Writes a chunk whose data is in memory. */
static int write_chunk(FILE *out, const char *type, const unsigned char *data,
    unsigned long length)
{
   unsigned char head[8], crc[4];
   unsigned long sum;

   put32(head, length);
   memcpy(head + 4, type, 4);
   sum = crc32(0, head + 4, 4);
   if (length > 0)
      sum = crc32(sum, data, (uInt) length);
   put32(crc, sum);
   return put(out, head, 8) && put(out, data, length) && put(out, crc, 4);
}

/* Writes the input's image data as one IDAT chunk of LENGTH bytes, read
 * again from the input, whose CRCs must still be right. */
static int write_image_data(FILE *out, const char *name, unsigned long length)
{
   FILE *file = fopen(name, "rb");
   struct chunk chunk;
   unsigned char head[8], crc[4];
   unsigned long sum, written = 0;
   int ok = 0;

   if (file == NULL)
      return 0;
   put32(head, length);
   memcpy(head + 4, "IDAT", 4);
   sum = crc32(0, head + 4, 4);
   if (fread(block, 1, 8, file) == 8 && fwrite(head, 1, 8, out) == 8)
      while (read_head(file, &chunk))
      {
         int image = is(&chunk, "IDAT");

         if (!read_body(file, &chunk, NULL, image ? out : NULL, &sum) || !chunk.crc_right)
            break;
         if (image)
            written += chunk.length;
         if (is(&chunk, "IEND"))
         {
            put32(crc, sum);
            ok = written == length && fwrite(crc, 1, 4, out) == 4;
            break;
         }
      }
   fclose(file);
   return ok;
}

/* Writes the candidate over the copy. */
static int write_own(const char *input_name, const struct input *input,
    const char *copy_name, const struct copy *copy)
{
   FILE *out = fopen(copy_name, "wb");
   int ok;

   if (out == NULL)
      return 0;
   ok = put(out, signature, 8) && write_chunk(out, "IHDR", input->ihdr, 13) &&
       put(out, copy->before.bytes, copy->before.size) &&
       put(out, input->plte.bytes, input->plte.size) &&
       put(out, input->trns.bytes, input->trns.size) &&
       write_image_data(out, input_name, (unsigned long) input->image_data) &&
       put(out, copy->after.bytes, copy->after.size) && write_chunk(out, "IEND", NULL, 0);
   return fclose(out) == 0 && ok;
}

int own_offer(const char *input_name, const char *copy_name, int verbose)
{
   struct input input;
   struct copy copy;
   double own;
   int result = OWN_NOT;

   memset(&input, 0, sizeof input);
   memset(&copy, 0, sizeof copy);
   why[0] = '\0';
   if (!read_copy(copy_name, &copy) || !read_input(input_name, &input))
   {
      if (verbose > 0)
         fprintf(stderr, "   The input's own compressed data cannot be kept: %s\n", why);
   }
   else if ((own = own_size(&input, &copy)) >= copy.size)
   {
      if (verbose > 0)
         fprintf(stderr, "   Kept the best trial: %.0f bytes, against %.0f for the"
             " input's own compressed data\n", copy.size, own);
   }
   /* Its image data must decode whole before it replaces the copy. */
   else if (!pixels_whole(input_name, why, sizeof why))
   {
      if (verbose > 0)
         fprintf(stderr, "   The input's own compressed data cannot be kept: %s\n", why);
   }
   else if (!write_own(input_name, &input, copy_name, &copy))
   {
      fprintf(stderr, "pngcrush: %s: the input's own compressed data could not be"
          " written\n", input_name);
      result = OWN_BROKEN;
   }
   /* The last guard, as for every copy. */
   else if (!pixels_kept(input_name, copy_name, why, sizeof why))
   {
      fprintf(stderr, "pngcrush: %s: the input's own compressed data: %s\n",
          input_name, why);
      result = OWN_BROKEN;
   }
   else
   {
      if (verbose >= 0)
         fprintf(stderr, "   Kept the input's own compressed data: %.0f bytes, against"
             " %.0f for the best trial\n", own, copy.size);
      result = OWN_WRITTEN;
   }
   free(input.plte.bytes);
   free(input.trns.bytes);
   free(copy.before.bytes);
   free(copy.after.bytes);
   return result;
}
