// What the POSIX start-up hands to the platform layer.
#ifndef TALVEK_POSIX_SYSTEM_H
#define TALVEK_POSIX_SYSTEM_H

// Keeps the process's arguments for GetCommandLineA.
void SetProcessArguments(int count, const char *const *arguments);

#endif  // TALVEK_POSIX_SYSTEM_H
