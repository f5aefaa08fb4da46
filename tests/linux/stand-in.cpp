// A stand-in optimizer for Linux tests and the benchmark, started as
// pngcrush.bin. Takes "-rem alla -brute -reduce IN OUT" and, by the
// STAND_IN variable: copies IN to OUT (unset), creates OUT empty ("touch"),
// fails with status 1 ("fail"), is killed by a signal ("kill"), copies after
// 1.6 s ("slow"), or copies and says, as our pngcrush does, that the copy
// kept the input's own compressed data ("kept"). Each run
// appends its arguments to the file named by STAND_IN_LOG, if any. The first
// run writes the wall-clock time it began, in microseconds, to the file
// named by STAND_IN_STAMP, if any and if that file does not exist yet.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char **argv) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  if (const char *stamp = getenv("STAND_IN_STAMP")) {
    int out = open(stamp, O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (out >= 0) {
      char text[32];
      int length = snprintf(text, sizeof text, "%lld\n",
                            (long long)now.tv_sec * 1000000 + now.tv_nsec / 1000);
      if (write(out, text, (size_t)length) != length) return 3;
      close(out);
    }
  }
  if (argc != 7) return 2;
  const char *mode = getenv("STAND_IN");
  mode = mode != nullptr ? mode : "";
  const char *log = getenv("STAND_IN_LOG");
  if (log != nullptr) {
    int out = open(log, O_WRONLY | O_APPEND | O_CREAT, 0644);
    // One line per run: the arguments after the program's name, tab between.
    char line[8192];
    size_t length = 0;
    for (int i = 1; i <= 6; i++) {
      size_t size = strlen(argv[i]);
      if (length + size + 2 > sizeof line) return 3;
      memcpy(line + length, argv[i], size);
      length += size;
      line[length++] = i < 6 ? '\t' : '\n';
    }
    if (write(out, line, length) != (ssize_t)length) return 3;
    close(out);
  }
  if (strcmp(mode, "fail") == 0) return 1;
  if (strcmp(mode, "kill") == 0) raise(SIGKILL);
  if (strcmp(mode, "slow") == 0) usleep(1600000);
  if (strcmp(mode, "kept") == 0) {
    printf("   Kept the input's own compressed data (IDAT unchanged)\n");
  }

  int out = open(argv[6], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) return 1;
  if (strcmp(mode, "touch") != 0) {
    int in = open(argv[5], O_RDONLY);
    if (in < 0) return 1;
    char buffer[65536];
    ssize_t size;
    while ((size = read(in, buffer, sizeof buffer)) > 0) {
      if (write(out, buffer, (size_t)size) != size) return 1;
    }
    close(in);
  }
  return close(out) == 0 ? 0 : 1;
}
