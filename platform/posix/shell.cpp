// The shell on POSIX, given its Windows effects: the message box becomes a
// line on standard output and, in a graphical session, a desktop
// notification with the run's figures; opening the home page goes to
// xdg-open.
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "internal.h"
#include "platform.h"
#include "progress.h"

// A desktop is there to show notifications when either display variable
// names one.
bool posix::InGraphicalSession() {
  const char *x11 = getenv("DISPLAY");
  const char *wayland = getenv("WAYLAND_DISPLAY");
  return (x11 != nullptr && x11[0] != '\0') ||
         (wayland != nullptr && wayland[0] != '\0');
}

extern "C" {

// The message ends a folder run. On a terminal the run's summary comes
// first, on standard error; the message goes to standard output, and in a
// graphical session also to the desktop as a notification, with the
// summary's figures, which is what the user of a file manager sees.
// notify-send is not waited for: the message is shown by then or never,
// and a notification service that is slow to answer must not hold up the
// end of the run. If it is missing or fails, nothing else changes.
int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, unsigned) {
  progress::Summary();
  printf("%s: %s\n", caption, text);
  fflush(stdout);
  if (posix::InGraphicalSession()) {
    static char body[2048];
    progress::NotificationBody(text, body, sizeof body);
    char program[] = "notify-send";
    char app_name[] = "--app-name=Talvek";
    char icon[] = "--icon=talvek";
    char options_end[] = "--";
    char *arguments[] = {program,
                         app_name,
                         icon,
                         options_end,
                         const_cast<char *>(caption),
                         body,
                         nullptr};
    posix::StartProgram(program, arguments);
  }
  return 1;
}

// Hands the address to xdg-open and does not wait for it. Without one, the
// address is printed so that the user can open it.
HINSTANCE ShellExecuteA(HWND, LPCSTR, LPCSTR file, LPCSTR, LPCSTR, int) {
  char opener[] = "xdg-open";
  char *arguments[] = {opener, const_cast<char *>(file), nullptr};
  pid_t pid;
  if (posix_spawnp(&pid, opener, nullptr, nullptr, arguments, environ) != 0) {
    printf("%s\n", file);
    fflush(stdout);
    return (HINSTANCE)(intptr_t)2;
  }
  return (HINSTANCE)(intptr_t)42;
}

}  // extern "C"
