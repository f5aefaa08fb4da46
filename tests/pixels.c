/* The tests' pixel oracle: whether a copy keeps every pixel of its input.
 *
 *   pixels INPUT COPY
 *
 * Both images are decoded with the system's libpng, whatever their colour
 * type, bit depth, palette or interlacing, into RGBA samples of 16 bits:
 * palettes and tRNS expanded, grey widened to RGB, an opaque alpha added
 * where there is none, and no gamma applied (libpng only applies it when
 * asked). The copy keeps every pixel when every sample is equal. Exit
 * status 0 when it does; 1, with one line saying how many pixels differ and
 * the first of them, when it does not; 2 when either cannot be read. The
 * system's libpng, not the optimizer's own, so that a fault in the one is
 * not hidden by the same fault in the other. */
#include <png.h>
#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct image
{
   png_uint_32 width, height;
   png_uint_16 *samples; /* RGBA, row after row */
   png_bytepp rows;
   char error[200];
};

static void on_error(png_structp png, png_const_charp message)
{
   struct image *image = png_get_error_ptr(png);

   snprintf(image->error, sizeof image->error, "%s", message);
   png_longjmp(png, 1);
}

static void on_warning(png_structp png, png_const_charp message)
{
   (void) png;
   (void) message;
}

/* Reads NAME into IMAGE as 16-bit RGBA; 0 on success. */
static int decode(const char *name, struct image *image)
{
   /* Chunks that only cost time here: they are skipped unread. */
   static const png_byte unread[] = "zTXt\0iTXt\0iCCP\0sPLT\0eXIf";
   png_structp png;
   png_infop info;
   FILE *file = fopen(name, "rb");
   png_uint_32 y;
   volatile int status = 1;

   memset(image, 0, sizeof *image);
   if (file == NULL)
   {
      snprintf(image->error, sizeof image->error, "cannot open it");
      return 1;
   }
   png = png_create_read_struct(PNG_LIBPNG_VER_STRING, image, on_error, on_warning);
   info = png == NULL ? NULL : png_create_info_struct(png);
   if (info == NULL)
   {
      snprintf(image->error, sizeof image->error, "out of memory");
      fclose(file);
      return 1;
   }
   if (setjmp(png_jmpbuf(png)) == 0)
   {
      png_init_io(png, file);
      png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, unread, 5);
      png_read_info(png, info);
      image->width = png_get_image_width(png, info);
      image->height = png_get_image_height(png, info);
      png_set_expand(png);
      png_set_expand_16(png);
      png_set_gray_to_rgb(png);
      png_set_add_alpha(png, 0xffff, PNG_FILLER_AFTER);
      png_set_interlace_handling(png);
      png_read_update_info(png, info);
      if (png_get_rowbytes(png, info) != (size_t) image->width * 8)
         png_error(png, "not decoded to 16-bit RGBA");
      if ((double) image->width * image->height > 1 << 28)
         png_error(png, "too large to compare");
      image->samples = malloc((size_t) image->width * image->height * 8);
      image->rows = malloc(image->height * sizeof *image->rows);
      if (image->samples == NULL || image->rows == NULL)
         png_error(png, "out of memory");
      for (y = 0; y < image->height; y++)
         image->rows[y] = (png_bytep) (image->samples + (size_t) y * image->width * 4);
      png_read_image(png, image->rows);
      png_read_end(png, NULL);
      status = 0;
   }
   png_destroy_read_struct(&png, &info, NULL);
   free(image->rows);
   if (status != 0)
   {
      free(image->samples);
      image->samples = NULL;
   }
   fclose(file);
   return status;
}

/* The sample at INDEX: libpng gives 16-bit samples in PNG's byte order. */
static unsigned sample(const struct image *image, size_t index)
{
   const png_byte *bytes = (const png_byte *) &image->samples[index];

   return (unsigned) bytes[0] << 8 | bytes[1];
}

int main(int argc, char **argv)
{
   struct image input, copy;
   size_t pixel, count, differ = 0, first = 0;
   int c;

   if (argc != 3)
   {
      fprintf(stderr, "usage: pixels INPUT COPY\n");
      return 2;
   }
   if (decode(argv[1], &input) != 0)
   {
      printf("%s: cannot read it: %s\n", argv[1], input.error);
      return 2;
   }
   if (decode(argv[2], &copy) != 0)
   {
      printf("%s: cannot read it: %s\n", argv[2], copy.error);
      free(input.samples);
      return 2;
   }
   count = (size_t) input.width * input.height;
   if (input.width != copy.width || input.height != copy.height)
   {
      printf("%s is %lux%lu, its input %lux%lu\n", argv[2], (unsigned long) copy.width,
          (unsigned long) copy.height, (unsigned long) input.width, (unsigned long) input.height);
      count = 0;
      differ = 1;
   }
   for (pixel = 0; pixel < count; pixel++)
      if (memcmp(&input.samples[pixel * 4], &copy.samples[pixel * 4], 8) != 0 && differ++ == 0)
         first = pixel;
   if (differ > 0 && count > 0)
   {
      printf("%s: %lu of %lu pixels differ; the first, at (%lu, %lu), is RGBA",
          argv[2], (unsigned long) differ, (unsigned long) count,
          (unsigned long) (first % input.width), (unsigned long) (first / input.width));
      for (c = 0; c < 4; c++)
         printf(" %u", sample(&copy, first * 4 + c));
      printf(", not");
      for (c = 0; c < 4; c++)
         printf(" %u", sample(&input, first * 4 + c));
      printf("\n");
   }
   free(input.samples);
   free(copy.samples);
   return differ > 0;
}
