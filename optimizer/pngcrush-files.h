/* Whether two names are one file, for pngcrush's refusal to overwrite its
 * input.
 *
 * Written for Talvek in 2026 and compiled into its pngcrush.bin, with
 * pngcrush-11-same-file.patch. pngcrush 1.8.13 compared inode numbers,
 * which MinGW's stat() leaves at 0, so on Windows it compared sizes
 * instead, and took any copy of its input's size for the input itself.
 * win32/pngcrush-files.c asks Windows for each file's volume and index,
 * posix/pngcrush-files.c the system for its device and inode. */
#ifndef PNGCRUSH_FILES_H
#define PNGCRUSH_FILES_H

/* 1 when A and B both exist and are the same file; 0 otherwise. */
int files_same(const char *a, const char *b);

#endif
