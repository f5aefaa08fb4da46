/* tools/fuzz.sh's own afl++ target: it writes past a buffer when the file
   named on its command line starts with "TALVEK", so that fuzz.sh can show
   that a crash afl++ finds fails the run. Each letter is a branch of its
   own, so afl++ finds the last one from the seed "TALVEJ" in seconds. */
#include <stdio.h>

int main(int argc, char **argv) {
  char head[6] = {0};
  volatile char buffer[6];
  volatile int at = 0;
  FILE *file = argc > 1 ? fopen(argv[1], "rb") : NULL;
  if (!file) return 2;
  fread(head, 1, sizeof head, file);
  fclose(file);
  if (head[0] == 'T') at++;
  if (at == 1 && head[1] == 'A') at++;
  if (at == 2 && head[2] == 'L') at++;
  if (at == 3 && head[3] == 'V') at++;
  if (at == 4 && head[4] == 'E') at++;
  if (at == 5 && head[5] == 'K') at++;
  buffer[at] = 1;  /* past the end when all six match */
  return 0;
}
