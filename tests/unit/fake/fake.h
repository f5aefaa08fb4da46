// A recording test platform: an in-memory Windows-like file system, and a
// log of every operation the driver calls, with its arguments.
#ifndef TALVEK_FAKE_H
#define TALVEK_FAKE_H

#include <map>
#include <set>
#include <string>
#include <vector>

struct FakeSystem {
  std::string command_line;
  bool no_command_line = false;
  std::string module = "C:\\Tools\\talvek.exe";
  bool module_fills_buffer = false;  // as Windows XP does with long paths
  std::set<unsigned char> lead_bytes;
  std::string current = "C:\\work";
  // Folder contents by full path in lower case, in enumeration order; a
  // trailing '\' on a name marks a subfolder.
  std::map<std::string, std::vector<std::string>> folders;
  std::set<std::string> failing_programs;  // lower case, from the first token
  std::set<std::string> failing_inputs;    // input operands, as quoted
  std::vector<std::string> calls;

  // Adds a folder (and its parents' entries) with the given entries.
  void AddFolder(const std::string &path, std::vector<std::string> entries);
};

extern FakeSystem fake;

// Resets the fake and the driver's process-wide state between tests.
void ResetFake();

#endif  // TALVEK_FAKE_H
