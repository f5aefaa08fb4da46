// The recording test platform. Paths are Windows paths with drive letters;
// names are compared without regard to case.
#include <string.h>

#include <algorithm>

#include "fake.h"
#include "path.h"
#include "platform.h"
#include "talvek.h"

FakeSystem fake;

namespace {

std::string Lower(std::string s) {
  for (char &c : s) c = (char)tolower((unsigned char)c);
  return s;
}

// The absolute, lower-case key of a path: relative ones join the current
// folder, '/' turns into '\', "." parts go and a trailing '\' is dropped.
std::string Key(const std::string &path) {
  std::string full = path;
  std::replace(full.begin(), full.end(), '/', '\\');
  bool absolute = (full.size() >= 2 && full[1] == ':') ||
                  (!full.empty() && full[0] == '\\');
  if (!absolute) full = fake.current + "\\" + full;
  std::string key;
  size_t start = 0;
  while (start <= full.size()) {
    size_t end = full.find('\\', start);
    if (end == std::string::npos) end = full.size();
    std::string part = full.substr(start, end - start);
    if (part != "." && !(part.empty() && !key.empty())) {
      key += (key.empty() ? "" : "\\") + part;
    }
    start = end + 1;
  }
  return Lower(key);
}

struct Search {
  std::vector<std::string> matches;
  size_t next = 0;
};
Search g_search;

void Fill(WIN32_FIND_DATAA *found, const std::string &entry) {
  memset(found, 0x55, sizeof *found);  // garbage, as the driver must not care
  bool folder = entry.back() == '\\';
  std::string name = folder ? entry.substr(0, entry.size() - 1) : entry;
  found->dwFileAttributes = folder ? 0x10 | 0x01 : 0x20 | 0x02;
  strcpy(found->cFileName, name.c_str());
}

}  // namespace

void FakeSystem::AddFolder(const std::string &path,
                           std::vector<std::string> entries) {
  std::string key = Key(path);
  size_t cut = key.rfind('\\');
  if (cut != std::string::npos && cut > 2) {
    std::string name = path.substr(path.find_last_of("\\/") + 1) + "\\";
    auto &parent = folders[key.substr(0, cut)];
    if (std::find(parent.begin(), parent.end(), name) == parent.end()) {
      parent.push_back(name);
    }
  }
  folders[key] = std::move(entries);
}

void ResetFake() {
  fake = FakeSystem();
  fake.AddFolder("C:\\work", {});
  memset(ToolFolder, 0, sizeof ToolFolder);
}

extern "C" {

LPSTR GetCommandLineA(void) {
  static char line[65536];
  if (fake.no_command_line) return NULL;
  strcpy(line, fake.command_line.c_str());
  return line;
}

DWORD GetModuleFileNameA(HINSTANCE module, LPSTR name, DWORD size) {
  fake.calls.push_back("GetModuleFileNameA " +
                       std::string(module ? "module" : "NULL") + " " +
                       std::to_string(size));
  size_t length = std::min<size_t>(fake.module.size(), size);
  memcpy(name, fake.module.data(), length);
  if (length < size) {
    name[length] = '\0';
  } else if (!fake.module_fills_buffer) {
    name[size - 1] = '\0';
  }
  return (DWORD)length;
}

BOOL IsDBCSLeadByte(BYTE c) { return fake.lead_bytes.count(c) != 0; }

BOOL PathIsDirectoryA(LPCSTR path) {
  fake.calls.push_back(std::string("PathIsDirectoryA ") + path);
  return path[0] != '\0' && fake.folders.count(Key(path)) ? 0x10 : 0;
}

BOOL SetCurrentDirectoryA(LPCSTR path) {
  fake.calls.push_back(std::string("SetCurrentDirectoryA ") + path);
  if (path[0] == '\0' || !fake.folders.count(Key(path))) return FALSE;
  fake.current = Key(path);
  return TRUE;
}

BOOL CreateDirectoryA(LPCSTR path, SECURITY_ATTRIBUTES *security) {
  fake.calls.push_back(std::string("CreateDirectoryA ") + path +
                       (security ? " security" : ""));
  if (fake.folders.count(Key(path))) return FALSE;
  fake.AddFolder(path, {});
  return TRUE;
}

HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA *found) {
  fake.calls.push_back(std::string("FindFirstFileA ") + pattern);
  g_search = Search();
  for (const std::string &entry : fake.folders[Lower(fake.current)]) {
    std::string name = entry.substr(0, entry.find('\\'));
    if (path::MatchesPattern(pattern, name.c_str())) {
      g_search.matches.push_back(entry);
    }
  }
  if (g_search.matches.empty()) return INVALID_HANDLE_VALUE;
  Fill(found, g_search.matches[g_search.next++]);
  return &g_search;
}

BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA *found) {
  fake.calls.push_back("FindNextFileA");
  Search *s = static_cast<Search *>(search);
  if (s != &g_search || s->next >= s->matches.size()) return FALSE;
  Fill(found, s->matches[s->next++]);
  return TRUE;
}

BOOL FindClose(HANDLE search) {
  fake.calls.push_back(search == &g_search ? "FindClose" : "FindClose ?");
  return TRUE;
}

// Records the command line; any argument that differs from what the driver
// must pass is written into the record, so that a test comparing records
// sees it.
BOOL CreateProcessA(LPCSTR application, LPSTR command_line,
                    SECURITY_ATTRIBUTES *process_security,
                    SECURITY_ATTRIBUTES *thread_security, BOOL inherit,
                    DWORD flags, LPVOID environment, LPCSTR directory,
                    STARTUPINFOA *startup, PROCESS_INFORMATION *process) {
  STARTUPINFOA zero;
  memset(&zero, 0, sizeof zero);
  zero.cb = sizeof zero;
  bool expected = application == NULL && process_security == NULL &&
                  thread_security == NULL && !inherit &&
                  flags == CREATE_NO_WINDOW && environment == NULL &&
                  directory == NULL &&
                  memcmp(startup, &zero, sizeof zero) == 0;
  fake.calls.push_back(std::string("CreateProcessA ") + command_line +
                       (expected ? "" : " [unexpected arguments]"));
  std::string program = command_line;
  program = program.substr(1, program.find('"', 1) - 1);
  if (fake.failing_programs.count(Lower(program))) return FALSE;
  for (const std::string &input : fake.failing_inputs) {
    if (strstr(command_line, ("\"" + input + "\" ").c_str())) return FALSE;
  }
  process->hProcess = (HANDLE)0x1000;
  process->hThread = (HANDLE)0x2000;
  return TRUE;
}

static std::string HandleName(HANDLE handle) {
  return handle == (HANDLE)0x1000 ? "process"
         : handle == (HANDLE)0x2000 ? "thread"
                                    : "?";
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  fake.calls.push_back("WaitForSingleObject " + HandleName(handle) + " " +
                       std::to_string(milliseconds));
  return 0;
}

BOOL CloseHandle(HANDLE handle) {
  fake.calls.push_back("CloseHandle " + HandleName(handle));
  return TRUE;
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, unsigned type) {
  fake.calls.push_back(std::string("MessageBoxA ") + (owner ? "owner " : "") +
                       caption + ": " + text + " " + std::to_string(type));
  return 1;
}

HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR params,
                        LPCSTR directory, int show) {
  fake.calls.push_back(std::string("ShellExecuteA ") + (owner ? "owner " : "") +
                       verb + " " + file + (params ? " params" : "") +
                       (directory ? " directory" : "") + " " +
                       std::to_string(show));
  return (HINSTANCE)42;
}

LPSTR PathFindExtensionA(LPCSTR path) { return path::FindExtension(path); }

LPSTR PathFindFileNameA(LPCSTR path) { return path::FindFileName(path, true); }

BOOL PathRemoveFileSpecA(LPSTR path) {
  return path::RemoveFileSpec(path, true);
}

}  // extern "C"
