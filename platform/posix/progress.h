// The report of a run: on a terminal, a status line while each image runs,
// a line when it is done and a summary at the end of a folder run; in a
// graphical session, the figures of the desktop notification. The POSIX
// layer's Windows functions tell it what happens as the driver calls them.
// With standard error no terminal and no desktop it keeps nothing, and
// costs a test of one flag per call.
#ifndef TALVEK_POSIX_PROGRESS_H
#define TALVEK_POSIX_PROGRESS_H

#include <stddef.h>
#include <sys/types.h>

namespace progress {

// What the layer saw of the run, for the start-up to explain one that did
// nothing.
struct Run {
  bool searched;             // a folder run opened its search, or tried to
  int search_error;          // why the folder could not be read, or 0
  unsigned long files;       // the files the search gives (on a terminal)
  unsigned long tried;       // optimizer runs asked for
  unsigned long started;     // and started
  unsigned long copies;      // copies they made
  unsigned long long before; // the inputs' bytes, of those with a copy
  unsigned long long after;  // the copies' bytes
  bool ended;                // the folder run said it was done
  int start_error;           // why the last optimizer could not start
};
const Run &Current();

// Set once at start-up, before the driver runs, with the path the run was
// given: whether standard error is a terminal, and whether figures are kept
// (on a terminal, or in a graphical session for the notification).
void Begin(const char *path);
bool OnTerminal();
bool Keeping();

// The folder run's search: the error that kept the folder from being
// read, or 0, and the files it will give (counted on a terminal only).
void Searched(int error, unsigned long files);

// An optimizer run about to start on input, writing output. Returns where
// the child writes its messages: on a terminal, a pipe that the wait
// reads; else -1, for none.
int Starting(const char *input, const char *output);
// It started as pid, or did not (pid -1, for error); program is its path.
void Started(pid_t pid, int error, const char *program);

// The wait on a terminal: the descriptor of pid's messages, or -1; reads
// what waits there (false once it is at its end, and then closed); the
// milliseconds until the status line or the lines waiting are due; those,
// if due.
int Messages(pid_t pid);
bool ReadMessages();
int UntilDue();
void Tick();

// The child pid has ended with this wait status.
void Ended(pid_t pid, int status);

// The end of a folder run: on a terminal, the summary; the notification's
// body for the message text (the text alone when no figures were kept).
void Summary();
void NotificationBody(const char *text, char *out, size_t capacity);

// Writes one line to standard error, "talvek: " and the formatted text; a
// name goes through Shown first, one a line, escaped.
void Say(const char *format, ...) __attribute__((format(printf, 1, 2)));
const char *Shown(const char *name);
// The line for a folder run that found no PNG file directly in its folder.
void SayNoImages();
// Writes the lines still waiting; the start-up calls it at the end.
void Flush();
// The program that could not be started, as last asked for.
const char *FailedProgram();

}  // namespace progress

#endif  // TALVEK_POSIX_PROGRESS_H
