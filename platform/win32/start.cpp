// The process start-up on Windows. The program has its own entry point
// instead of the C runtime's, so the command tail is formed by our rules
// alone and the executable carries no runtime start-up code.
#include "platform.h"
#include "talvek.h"

// The linker places this at the module's base; it is the instance handle.
extern "C" IMAGE_DOS_HEADER __ImageBase;

extern "C" void TalvekStart(void) {
  int result = WinMain((HINSTANCE)&__ImageBase, NULL,
                       FormCommandTail(GetCommandLineA()), SW_SHOWDEFAULT);
  // Ends every thread the shell may have started, too.
  ExitProcess((UINT)result);
}
