// The process start-up on POSIX systems: the command line is rebuilt from
// the arguments and read by the same rules as on Windows. Before the
// driver, -h, --help and --version are answered, unless a file or folder
// is so named; after it, on a terminal, a run that did nothing says why.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "internal.h"
#include "path.h"
#include "platform.h"
#include "progress.h"
#include "system.h"
#include "talvek.h"

namespace {

const char kUsage[] =
    "Usage: talvek FOLDER\n"
    "       talvek FILE.png\n"
    "\n"
    "Makes an optimized copy of every PNG file directly in FOLDER, or of\n"
    "FILE.png alone, with pngcrush, in the subfolder _talvek beside the\n"
    "images, under the same name. Every pixel stays the same, and the\n"
    "images themselves are never changed. Subfolders are not searched.\n"
    "\n"
    "The whole rest of the command line is one path, so a name with blanks\n"
    "needs no quotes, and a file or folder named -h, --help or --version\n"
    "is taken as that path. With no path, talvek opens its home page.\n"
    "\n"
    "On a terminal, talvek shows each image as it runs and what its copy\n"
    "saved, and why an image got no copy. The exit status is always 0:\n"
    "the copies in _talvek are what a script can check.\n"
    "\n"
    "  -h, --help   show this text and the version\n"
    "  --version    show the version\n"
    "\n"
    "See talvek(1).\n";

// Whether the path names a file or folder, looked up as the driver looks
// it up, without regard to case where its exact spelling is missing.
bool Exists(const char *path) {
  char real[posix::kPathSize];
  struct stat status;
  return posix::ResolvePath(path, real, sizeof real, true) &&
         lstat(real, &status) == 0;
}

// Answers -h, --help and --version on standard output. Says whether the
// tail was one of them.
bool AnsweredOption(const char *tail) {
  bool help = strcmp(tail, "-h") == 0 || strcmp(tail, "--help") == 0;
  if (!help && strcmp(tail, "--version") != 0) return false;
  if (Exists(tail)) return false;
  printf("talvek %s\n", TALVEK_VERSION);
  if (help) printf("\n%s", kUsage);
  fflush(stdout);
  return true;
}

// Says on the terminal why a run left nothing to show: the driver ends
// such a run without a word. A run that reached the optimizer has said
// what became of each image already.
void Explain(const char *path, size_t tail_length) {
  const progress::Run &run = progress::Current();
  if (run.ended || tail_length == 0) return;
  if (tail_length > LongestTail) {
    progress::Say("a path longer than %u bytes cannot be run; the home page "
                  "was opened instead",
                  (unsigned)LongestTail);
    return;
  }
  if (run.searched) {
    if (run.search_error != 0) {
      progress::Say("cannot read the folder %s: %s", progress::Shown(path),
                    strerror(run.search_error));
    } else if (run.tried == 0) {
      progress::SayNoImages();
    } else if (run.started == 0) {
      progress::Say("cannot start the optimizer %s: %s; no copy was made",
                    progress::Shown(progress::FailedProgram()),
                    strerror(run.start_error));
    }
    return;
  }
  if (run.tried > 0) return;

  char real[posix::kPathSize];
  struct stat status;
  if (path[0] == '\0') {
    progress::Say("the path is empty");
  } else if (!posix::ResolvePath(path, real, sizeof real, true) ||
             stat(real, &status) != 0) {
    progress::Say("cannot open %s: %s", progress::Shown(path),
                  strerror(errno));
  } else if (S_ISDIR(status.st_mode)) {
    // The driver could not enter it; entering it again says why.
    progress::Say("cannot enter the folder %s: %s", progress::Shown(path),
                  chdir(real) == 0 ? "unknown error" : strerror(errno));
  } else if (strcasecmp(path::FindExtension(path), ".png") != 0) {
    progress::Say("%s is not a .png file; talvek takes a folder, or a file "
                  "whose name ends in .png",
                  progress::Shown(path));
  } else {
    path::RemoveFileSpec(real, false);
    progress::Say("cannot enter the folder of %s: %s", progress::Shown(path),
                  chdir(real) == 0 ? "unknown error" : strerror(errno));
  }
}

}  // namespace

int main(int argc, char **argv) {
  SetProcessArguments(argc, argv);
  LPSTR tail = FormCommandTail(GetCommandLineA());
  if (AnsweredOption(tail)) return 0;

  // The path as the driver will take it: a tail that begins and ends with
  // a quote loses both. The driver cuts the tail in place, so it is
  // copied first.
  static char path[LongestTail + 1];
  size_t length = strlen(tail);
  if (length <= LongestTail) {
    bool quoted = length >= 2 && tail[0] == '"' && tail[length - 1] == '"';
    memcpy(path, tail + quoted, length - 2 * quoted);
    path[length - 2 * quoted] = '\0';
  }
  progress::Begin(path);

  int result = WinMain(NULL, NULL, tail, SW_SHOWDEFAULT);
  if (progress::OnTerminal()) {
    Explain(path, length);
    progress::Flush();
  }
  return result;
}
