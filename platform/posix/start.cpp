// The process start-up on POSIX systems: the command line is rebuilt from
// the arguments and read by the same rules as on Windows.
#include "platform.h"
#include "system.h"
#include "talvek.h"

int main(int argc, char **argv) {
  SetProcessArguments(argc, argv);
  return WinMain(NULL, NULL, FormCommandTail(GetCommandLineA()),
                 SW_SHOWDEFAULT);
}
