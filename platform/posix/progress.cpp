// The report of a run on a terminal, and the figures of the desktop
// notification. Sizes come from the file system alone: the input's before
// its run, the copy's in _talvek after it; no image is ever decoded. On a
// terminal the optimizer's messages come through a pipe and are scanned
// as they pass, for the few texts that say why there is no copy, or that
// the copy kept its input's own compressed data. Everything is in fixed
// buffers. Lines are written together, at most four times a second: each
// write to a terminal wakes the terminal's own process, which on a folder
// of quick images cost more than the rest of the report.
#include "progress.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "internal.h"
#include "path.h"
#include "text.h"

namespace {

// Milliseconds from an image's start to its first status line, and between
// two: a quick image prints its one line only. Lines wait at most
// kWriteEvery to be written.
constexpr long long kDrawEvery = 500;
constexpr long long kWriteEvery = 250;
// A name escaped takes at most four bytes for each of its own.
constexpr size_t kShownSize = posix::kPathSize * 4 + 1;

// The optimizer's texts the report looks for, and what each means.
enum Found : unsigned {
  kKept = 1,       // the copy kept the input's own compressed data
  kRefused = 2,    // the pixel guard removed the copy
  kUnwritten = 4,  // the copy could not be opened or written
  kDamaged = 8,    // libpng could not read the input
};
struct Text {
  const char *text;
  Found found;
};
const Text kTexts[] = {
    {"Kept the input's own compressed data", kKept},
    {"no copy written", kRefused},
    {"could not open output file", kUnwritten},
    {"Write Error", kUnwritten},
    {"libpng error", kDamaged},
};
// Enough of the last read kept for a text cut between two reads.
constexpr size_t kCarry = 63;

// The image being optimized.
struct Image {
  pid_t pid;  // 0 when none runs
  int messages, child_end;
  unsigned long number;
  char input[posix::kPathSize], output[posix::kPathSize];
  unsigned long long input_size;
  bool had_copy;  // a copy was there before: it must have changed
  struct stat old_copy;
  long long started, due;
  bool drawn;
  unsigned found;
  size_t carry;
};

bool g_terminal, g_keeping;
long long g_began;
char g_path[posix::kPathSize];
progress::Run g_run;
Image g_image;
char g_program[posix::kPathSize];
char g_read[kCarry + 4096];
char g_shown[kShownSize];
char g_line[kShownSize + 512];
// Lines not yet written, and when standard error was last written.
char g_out[2 * sizeof g_line];
size_t g_pending;
long long g_written;

long long Now() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

// Writes all of it to standard error; a terminal that is gone is let be.
void Write(const char *text, size_t length) {
  while (length > 0) {
    ssize_t done = write(2, text, length);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return;
    text += done;
    length -= (size_t)done;
  }
}

// Queues text for standard error, and writes what is queued when it would
// not fit, when asked to at once, or when the last write is kWriteEvery
// old.
void Queue(const char *text, size_t length, bool now) {
  if (g_pending + length > sizeof g_out) progress::Flush();
  memcpy(g_out + g_pending, text, length);
  g_pending += length;
  if (now || Now() - g_written >= kWriteEvery) progress::Flush();
}

// Appends formatted text to g_line at *length, cut to fit.
void AppendList(size_t *length, const char *format, va_list arguments) {
  if (*length >= sizeof g_line - 1) return;
  int added = vsnprintf(g_line + *length, sizeof g_line - *length, format,
                        arguments);
  if (added > 0) *length += (size_t)added;
  if (*length >= sizeof g_line) *length = sizeof g_line - 1;
}
void Append(size_t *length, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
void Append(size_t *length, const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  AppendList(length, format, arguments);
  va_end(arguments);
}

// The images of the folder run so far: the files counted, or more if the
// folder grew.
unsigned long Images() {
  return g_run.files > g_run.tried ? g_run.files : g_run.tried;
}

// "[3/20] " before an image's name in a folder run; nothing in a file run.
void AppendNumber(size_t *length) {
  if (g_run.searched) Append(length, "[%lu/%lu] ", g_image.number, Images());
}

// The status line, drawn over the last: number, name, and the seconds so
// far, the name cut to fit the terminal's width so that the line never
// wraps and the next one overwrites it whole.
void Draw(long long now) {
  size_t length = 0;
  Append(&length, "\r\033[K");
  AppendNumber(&length);
  char time[32];
  text::FormatTime((unsigned long long)(now - g_image.started), time,
                   sizeof time);
  struct winsize size;
  size_t width = ioctl(2, TIOCGWINSZ, &size) == 0 && size.ws_col > 0
                     ? size.ws_col
                     : 80;
  // Room for the name: the width less a column for the cursor, the number
  // (all after the 4 bytes that clear the line) and ", " and the time.
  size_t taken = 1 + (length - 4) + 2 + strlen(time);
  size_t room = width > taken ? width - taken : 0;
  text::EscapeName(path::FindFileName(g_image.input, false), g_shown,
                   sizeof g_shown, false);
  if (text::Columns(g_shown) > room) {
    // Cut between two characters, and say so.
    size_t columns = 0, end = 0;
    for (; g_shown[end] != '\0'; end++) {
      if (((unsigned char)g_shown[end] & 0xC0) == 0x80) continue;
      if (columns + 3 >= room) break;
      columns++;
    }
    memcpy(g_shown + end, "...", 4);
  }
  Append(&length, "%s, %s", g_shown, time);
  Queue(g_line, length, true);
  g_image.drawn = true;
}

// Why the image has no copy, in words its owner can act on. The input is
// read only here, for its first 8 bytes: a file that does not begin with
// the PNG signature is no PNG at all.
void Reason(int status, int start_error, char *out, size_t capacity) {
  if (start_error != 0) {
    snprintf(out, capacity,
             "the optimizer failed (it could not be started: %s)",
             strerror(start_error));
    return;
  }
  if (WIFSIGNALED(status)) {
    snprintf(out, capacity, "the optimizer failed (killed by signal %d)",
             WTERMSIG(status));
    return;
  }
  static const unsigned char kSignature[8] = {0x89, 'P',  'N',  'G',
                                              '\r', '\n', 0x1A, '\n'};
  unsigned char head[8];
  int input = open(g_image.input, O_RDONLY | O_CLOEXEC);
  if (input < 0) {
    snprintf(out, capacity, "cannot be read (%s)", strerror(errno));
    return;
  }
  ssize_t got = read(input, head, sizeof head);
  close(input);
  if (got != (ssize_t)sizeof head || memcmp(head, kSignature, 8) != 0) {
    snprintf(out, capacity, "not a PNG file");
  } else if (g_image.found & kRefused) {
    snprintf(out, capacity, "the optimizer failed (it refused its own copy)");
  } else if (g_image.found & kUnwritten) {
    snprintf(out, capacity, "the copy could not be written in _talvek");
  } else if (g_image.found & kDamaged) {
    snprintf(out, capacity, "damaged");
  } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    snprintf(out, capacity, "the optimizer failed (exit status %d)",
             WEXITSTATUS(status));
  } else {
    snprintf(out, capacity, "the optimizer failed");
  }
}

// The image's line once it is done, over its status line if one was drawn:
// its sizes, the change and its time, or why it has no copy.
void SayDone(bool made, unsigned long long copy_size, int status,
             int start_error) {
  size_t length = 0;
  if (g_image.drawn) Append(&length, "\r\033[K");
  AppendNumber(&length);
  text::EscapeName(path::FindFileName(g_image.input, false), g_shown,
                   sizeof g_shown, false);
  Append(&length, "%s: ", g_shown);
  char time[32];
  text::FormatTime((unsigned long long)(Now() - g_image.started), time,
                   sizeof time);
  if (made) {
    char before[32], after[32], change[48];
    text::FormatSize(g_image.input_size, before, sizeof before);
    text::FormatSize(copy_size, after, sizeof after);
    text::FormatChange(g_image.input_size, copy_size, change, sizeof change);
    Append(&length, "%s \xe2\x86\x92 %s, %s, %s", before, after, change, time);
    if (g_image.found & kKept) {
      Append(&length, ", kept the original's own compression");
    }
  } else {
    char why[256];
    Reason(status, start_error, why, sizeof why);
    Append(&length, "no copy, %s, %s", why, time);
  }
  Append(&length, "\n");
  Queue(g_line, length, false);
}

// Looks for the optimizer's texts in what was just read, after the carry.
void Scan(size_t got) {
  size_t total = g_image.carry + got;
  for (const Text &wanted : kTexts) {
    if ((g_image.found & wanted.found) == 0 &&
        memmem(g_read, total, wanted.text, strlen(wanted.text)) != nullptr) {
      g_image.found |= wanted.found;
    }
  }
  g_image.carry = total < kCarry ? total : kCarry;
  memmove(g_read, g_read + total - g_image.carry, g_image.carry);
}

// The copy is this run's if it is there and was not before, or changed.
bool Changed(const struct stat &now, const struct stat &before) {
  return now.st_ino != before.st_ino || now.st_size != before.st_size ||
         now.st_mtim.tv_sec != before.st_mtim.tv_sec ||
         now.st_mtim.tv_nsec != before.st_mtim.tv_nsec ||
         now.st_ctim.tv_sec != before.st_ctim.tv_sec ||
         now.st_ctim.tv_nsec != before.st_ctim.tv_nsec;
}

// Copies text into a fixed buffer, cut to fit.
void Keep(char *buffer, size_t capacity, const char *text) {
  size_t length = strnlen(text, capacity - 1);
  memcpy(buffer, text, length);
  buffer[length] = '\0';
}

}  // namespace

namespace progress {

const Run &Current() { return g_run; }

void Begin(const char *path) {
  g_terminal = isatty(2) == 1;
  g_keeping = g_terminal || posix::InGraphicalSession();
  g_began = Now();
  Keep(g_path, sizeof g_path, path);
  g_image.messages = g_image.child_end = -1;
}

bool OnTerminal() { return g_terminal; }
bool Keeping() { return g_keeping; }

void Searched(int error, unsigned long files) {
  g_run.searched = true;
  g_run.search_error = error;
  g_run.files = files;
}

int Starting(const char *input, const char *output) {
  if (!g_keeping) return -1;
  g_run.tried++;
  g_image.number = g_run.tried;
  Keep(g_image.input, sizeof g_image.input, input);
  Keep(g_image.output, sizeof g_image.output, output);
  struct stat status;
  g_image.input_size =
      stat(input, &status) == 0 ? (unsigned long long)status.st_size : 0;
  g_image.had_copy = stat(output, &g_image.old_copy) == 0;
  g_image.started = Now();
  g_image.due = g_image.started + kDrawEvery;
  g_image.drawn = false;
  g_image.found = 0;
  g_image.carry = 0;
  if (!g_terminal) return -1;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return -1;
  fcntl(ends[0], F_SETFL, O_NONBLOCK);
  g_image.messages = ends[0];
  g_image.child_end = ends[1];
  return ends[1];
}

void Started(pid_t pid, int error, const char *program) {
  if (!g_keeping) return;
  if (g_image.child_end >= 0) close(g_image.child_end);
  g_image.child_end = -1;
  if (pid > 0) {
    g_run.started++;
    g_image.pid = pid;
    return;
  }
  g_run.start_error = error;
  Keep(g_program, sizeof g_program, program);
  if (g_image.messages >= 0) close(g_image.messages);
  g_image.messages = -1;
  if (g_terminal) SayDone(false, 0, 0, error);
}

int Messages(pid_t pid) {
  return g_image.pid == pid ? g_image.messages : -1;
}

bool ReadMessages() {
  // A bounded number of reads, so that a child that never stops talking
  // cannot hold up the status line.
  for (int reads = 0; g_image.messages >= 0 && reads < 16;) {
    ssize_t got = read(g_image.messages, g_read + g_image.carry,
                       sizeof g_read - g_image.carry);
    if (got > 0) {
      Scan((size_t)got);
      reads++;
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return true;
    close(g_image.messages);
    g_image.messages = -1;
  }
  return g_image.messages >= 0;
}

int UntilDue() {
  long long due = g_image.due;
  if (g_pending > 0 && g_written + kWriteEvery < due) {
    due = g_written + kWriteEvery;
  }
  long long left = due - Now();
  return left > 0 ? (int)left : 0;
}

void Tick() {
  long long now = Now();
  if (g_pending > 0 && now - g_written >= kWriteEvery) Flush();
  if (g_image.pid == 0 || now < g_image.due) return;
  Draw(now);
  g_image.due = now + kDrawEvery;
}

void Flush() {
  Write(g_out, g_pending);
  g_pending = 0;
  g_written = Now();
}

void Ended(pid_t pid, int status) {
  if (!g_keeping || pid != g_image.pid) return;
  g_image.pid = 0;
  // What the child wrote last; its own children may still hold the pipe,
  // so this reads only what is there.
  ReadMessages();
  if (g_image.messages >= 0) close(g_image.messages);
  g_image.messages = -1;

  struct stat copy;
  bool made = stat(g_image.output, &copy) == 0 && S_ISREG(copy.st_mode) &&
              (!g_image.had_copy || Changed(copy, g_image.old_copy));
  if (made) {
    g_run.copies++;
    g_run.before += g_image.input_size;
    g_run.after += (unsigned long long)copy.st_size;
  }
  if (g_terminal) {
    SayDone(made, made ? (unsigned long long)copy.st_size : 0, status, 0);
  }
}

void Summary() {
  g_run.ended = true;
  if (!g_terminal) return;
  unsigned long images = Images();
  if (images == 0) {
    SayNoImages();
    return;
  }
  size_t length = 0;
  Append(&length, "%lu %s: %lu %s, %lu without a copy", images,
         images == 1 ? "image" : "images", g_run.copies,
         g_run.copies == 1 ? "copy" : "copies", images - g_run.copies);
  if (g_run.copies > 0) {
    char before[32], after[32], change[48];
    text::FormatSize(g_run.before, before, sizeof before);
    text::FormatSize(g_run.after, after, sizeof after);
    text::FormatChange(g_run.before, g_run.after, change, sizeof change);
    Append(&length, "; %s \xe2\x86\x92 %s, %s", before, after, change);
  }
  char time[32];
  text::FormatTime((unsigned long long)(Now() - g_began), time, sizeof time);
  Append(&length, "; %s\n", time);
  Queue(g_line, length, true);
}

void NotificationBody(const char *text, char *out, size_t capacity) {
  size_t length = 0;
  unsigned long images = g_run.tried;
  if (!g_keeping) {
    snprintf(out, capacity, "%s", text);
    return;
  }
  if (images == 0) {
    length = (size_t)snprintf(out, capacity, "%s: no PNG file", text);
  } else if (g_run.copies == 0) {
    length = (size_t)snprintf(out, capacity, "%s: no copy, %lu %s without one",
                              text, images, images == 1 ? "image" : "images");
  } else {
    char before[32], after[32], change[48];
    text::FormatSize(g_run.before, before, sizeof before);
    text::FormatSize(g_run.after, after, sizeof after);
    text::FormatChange(g_run.before, g_run.after, change, sizeof change);
    length = (size_t)snprintf(out, capacity, "%s: %lu %s, %s \xe2\x86\x92 %s (%s)",
                              text, g_run.copies,
                              g_run.copies == 1 ? "copy" : "copies", before,
                              after, change);
    if (images > g_run.copies && length < capacity) {
      length += (size_t)snprintf(out + length, capacity - length,
                                 ", %lu without a copy", images - g_run.copies);
    }
  }
  // The folder's own name on a second line, since several runs may end
  // side by side; its markup is escaped, as the notification's body is
  // markup.
  char folder[posix::kPathSize];
  if (length + 1 < capacity && getcwd(folder, sizeof folder) != nullptr) {
    out[length++] = '\n';
    text::EscapeName(path::FindFileName(folder, false), out + length,
                     capacity - length, true);
  }
}

void Say(const char *format, ...) {
  size_t length = 0;
  Append(&length, "talvek: ");
  va_list arguments;
  va_start(arguments, format);
  AppendList(&length, format, arguments);
  va_end(arguments);
  if (length > sizeof g_line - 2) length = sizeof g_line - 2;
  g_line[length++] = '\n';
  Queue(g_line, length, true);
}

const char *Shown(const char *name) {
  text::EscapeName(name, g_shown, sizeof g_shown, false);
  return g_shown;
}

void SayNoImages() {
  Say("no PNG file directly in %s; subfolders are not searched",
      Shown(g_path));
}

const char *FailedProgram() { return g_program; }

}  // namespace progress
