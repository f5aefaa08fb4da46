// The driver against the recording platform: the tail, the dispatch, both
// runs and the optimizer's command line, call by call.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "fake.h"
#include "talvek.h"

namespace {

using Calls = std::vector<std::string>;

const std::string kHome =
    "ShellExecuteA open http://" TALVEK_HOME_HOST "/soft/talvek 5";
const std::string kModule = "GetModuleFileNameA NULL 1024";
const std::string kOptions = "\\pngcrush.bin\" -rem alla -brute -reduce ";

// The command line the optimizer gets for a name, from C:\Tools.
std::string Crush(const std::string &input, const std::string &output) {
  return "CreateProcessA \"C:\\Tools" + kOptions + "\"" + input +
         "\" \".\\_talvek\\" + output + "\"";
}

Calls Optimized(const std::string &name) {
  return {Crush(name, name), "WaitForSingleObject process 4294967295",
          "CloseHandle process", "CloseHandle thread"};
}

Calls Join(std::initializer_list<Calls> parts) {
  Calls all;
  for (const Calls &part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class Driver : public ::testing::Test {
 protected:
  void SetUp() override { ResetFake(); }

  // Runs the entry on a tail, as the start-up would hand it over.
  Calls Run(const std::string &tail) {
    tail_.assign(tail.begin(), tail.end());
    tail_.push_back('\0');
    EXPECT_EQ(WinMain(NULL, NULL, tail_.data(), 10), 0);
    return fake.calls;
  }

  std::string TailOf(const std::string &line) {
    fake.command_line = line;
    return FormCommandTail(GetCommandLineA());
  }

  std::vector<char> tail_;
};

TEST_F(Driver, TailSkipsTheProgramNameByItsOwnRules) {
  struct Case {
    const char *line, *tail;
  } cases[] = {
      {"", ""},
      {"talvek.exe", ""},
      {"talvek.exe   \t ", ""},
      {"talvek.exe C:\\my pics ", "C:\\my pics "},
      {"\"C:\\Program Files\\talvek.exe\" \"C:\\a b\"", "\"C:\\a b\""},
      {"\"C:\\Program Files\\talvek.exe\"x y", "y"},
      {"C:\\odd\"na me\"\\talvek.exe  a", "a"},
      {"\"unclosed name a b", ""},
      {"talvek.exe\x01\x1f\x20\x21", "\x21"},
  };
  for (const Case &c : cases) EXPECT_EQ(TailOf(c.line), c.tail) << c.line;

  // Every byte from 1 to 32 ends the name and is skipped after it.
  for (int b = 1; b <= 32; b++) {
    std::string blank(1, (char)b);
    EXPECT_EQ(TailOf("t" + blank + blank + "x" + blank), "x" + blank) << b;
  }
  // Byte 33 does neither.
  EXPECT_EQ(TailOf("t\x21x y"), "y");

  fake.no_command_line = true;
  EXPECT_STREQ(FormCommandTail(GetCommandLineA()), "");
}

TEST_F(Driver, TailStepsOverDoubleByteCharacters) {
  fake.lead_bytes = {0x81, 0x95};
  // The quote after a lead byte is its second half, not a quote.
  EXPECT_EQ(TailOf("t\x81\" a"), "a");
  EXPECT_EQ(TailOf("t\x95 x b"), "b");
  // A lead byte at the very end never steps past the NUL, into what a longer
  // line left behind it.
  TailOf("talvek\x81xx junk");
  EXPECT_EQ(TailOf("talvek\x81"), "");
  fake.lead_bytes.clear();
  EXPECT_EQ(TailOf("t\x81\" a"), "");
  EXPECT_EQ(TailOf("t\x95 x b"), "x b");
}

TEST_F(Driver, TailLengthChoosesTheHomePage) {
  EXPECT_EQ(Run(""), Calls{kHome});
  EXPECT_EQ(ToolFolder[0], '\0');
  fake.calls.clear();

  // 2047 bytes naming a folder is run; 2048 opens the home page regardless.
  std::string folder = "C:\\" + std::string(2044, 'd');
  fake.AddFolder(folder, {});
  fake.AddFolder(folder + "e", {});
  EXPECT_EQ(Run(folder), Calls({kModule, "PathIsDirectoryA " + folder,
                                "SetCurrentDirectoryA " + folder,
                                "FindFirstFileA *.png"}));
  fake.calls.clear();
  EXPECT_EQ(Run(folder + "e"), Calls{kHome});
}

TEST_F(Driver, QuotesAreRemovedOnlyInPairs) {
  struct Case {
    const char *tail, *path;
  } cases[] = {
      {"\"C:\\my pics\"", "C:\\my pics"},
      {"C:\\my pics", "C:\\my pics"},
      {"C:\\pics\\a.png\"", "C:\\pics\\a.png\""},
      {"\"C:\\pics\\a.png", "\"C:\\pics\\a.png"},
      {"\"C:\\a\" ", "\"C:\\a\" "},
      {"\"C:\\a\\\"", "C:\\a\\"},
      {"\"C:\\a\" \"C:\\b\"", "C:\\a\" \"C:\\b"},
      {"\"\"", ""},
      {"\"", "\""},
  };
  for (const Case &c : cases) {
    ResetFake();
    Calls calls = Run(c.tail);
    ASSERT_GE(calls.size(), 2u) << c.tail;
    EXPECT_EQ(calls[1], std::string("PathIsDirectoryA ") + c.path) << c.tail;
  }
}

TEST_F(Driver, ToolFolderAlwaysEndsWithNul) {
  // The buffer's last byte is a separator; kept, it would be the cut.
  fake.module = "C:\\abcd\\";
  for (int i = 0; i < 300; i++) fake.module += "abc\\";
  fake.module += "talvek.exe";
  fake.module_fills_buffer = true;
  Run("C:\\p");
  // 1023 bytes are kept, and cut at the last separator among them.
  EXPECT_EQ(std::string(ToolFolder), fake.module.substr(0, 1019));
}

TEST_F(Driver, FolderRunOptimizesEachFileThenSaysListo) {
  fake.AddFolder("C:\\my pics", {"a.png", "sub.png\\", "B.PNG", "c.txt",
                                 "-brute.png", "x.pngx"});
  Calls expected = Join({
      {kModule, "PathIsDirectoryA C:\\my pics", "SetCurrentDirectoryA C:\\my pics",
       "FindFirstFileA *.png", "CreateDirectoryA .\\_talvek"},
      Optimized("a.png"),
      {"FindNextFileA", "FindNextFileA"},
      Optimized("B.PNG"),
      {"FindNextFileA", Crush(".\\-brute.png", "-brute.png")},
      {"WaitForSingleObject process 4294967295", "CloseHandle process",
       "CloseHandle thread", "FindNextFileA", "FindClose",
       "MessageBoxA Talvek: Listo 0"},
  });
  EXPECT_EQ(Run("\"C:\\my pics\""), expected);
}

TEST_F(Driver, FolderRunEndsEarlyWithoutAFolderOrAMatch) {
  fake.AddFolder("C:\\empty", {"a.txt", "b.png.bak"});
  Calls start = {kModule, "PathIsDirectoryA C:\\empty",
                 "SetCurrentDirectoryA C:\\empty"};
  EXPECT_EQ(Run("C:\\empty"), Join({start, {"FindFirstFileA *.png"}}));

  // A folder that cannot be entered is not replaced by the current one.
  fake.calls.clear();
  fake.AddFolder("C:\\work", {"stray.png"});
  ProcessFolder("C:\\gone");
  EXPECT_EQ(fake.calls, Calls{"SetCurrentDirectoryA C:\\gone"});

  // A match that is a folder still makes the output folder and says Listo.
  fake.calls.clear();
  fake.AddFolder("C:\\d", {"only.png\\"});
  ProcessFolder("C:\\d");
  EXPECT_EQ(fake.calls, Calls({"SetCurrentDirectoryA C:\\d",
                               "FindFirstFileA *.png",
                               "CreateDirectoryA .\\_talvek", "FindNextFileA",
                               "FindClose", "MessageBoxA Talvek: Listo 0"}));
}

TEST_F(Driver, FailedStartsAreSkippedAndTheRunGoesOn) {
  // Not one start succeeds: nothing was done, so no Listo.
  fake.failing_programs = {"c:\\tools\\pngcrush.bin"};
  fake.AddFolder("C:\\p", {"a.png", "only.png\\", "b.png"});
  Calls start = {kModule, "PathIsDirectoryA C:\\p", "SetCurrentDirectoryA C:\\p",
                 "FindFirstFileA *.png", "CreateDirectoryA .\\_talvek"};
  EXPECT_EQ(Run("C:\\p"),
            Join({start, {Crush("a.png", "a.png"), "FindNextFileA", "FindNextFileA",
                          Crush("b.png", "b.png"), "FindNextFileA", "FindClose"}}));

  // One start fails after another succeeded: Listo as ever.
  ResetFake();
  fake.failing_inputs = {"b.png"};
  fake.AddFolder("C:\\p", {"a.png", "only.png\\", "b.png"});
  EXPECT_EQ(Run("C:\\p"),
            Join({start, Optimized("a.png"),
                  {"FindNextFileA", "FindNextFileA", Crush("b.png", "b.png"),
                   "FindNextFileA", "FindClose", "MessageBoxA Talvek: Listo 0"}}));
}

TEST_F(Driver, FileRunLowersTheExtensionAndEntersTheFolder) {
  fake.AddFolder("C:\\p", {"Photo.PNG"});
  EXPECT_EQ(Run("C:\\p\\Photo.PNG"),
            Join({{kModule, "PathIsDirectoryA C:\\p\\Photo.PNG",
                   "SetCurrentDirectoryA C:\\p", "CreateDirectoryA .\\_talvek"},
                  Optimized("Photo.png")}));

  // A bare name runs in the current folder.
  fake.calls.clear();
  char bare[] = "-x.Png";
  ProcessFile(bare);
  Calls expected = Optimized("-x.png");
  expected[0] = Crush(".\\-x.png", "-x.png");
  EXPECT_EQ(fake.calls,
            Join({{"SetCurrentDirectoryA ", "CreateDirectoryA .\\_talvek"},
                  expected}));
}

TEST_F(Driver, FileRunRefusesOtherNamesAndFolders) {
  fake.AddFolder("C:\\p", {});
  for (const char *path : {"C:\\p\\photo.png.bak", "C:\\p\\photo.pngx",
                           "C:\\p\\photo", "C:\\p\\photo.png ", "C:\\p.png\\a",
                           ""}) {
    std::string copy = path;
    fake.calls.clear();
    ProcessFile(copy.data());
    EXPECT_EQ(fake.calls, Calls{}) << path;
  }
  // A folder that cannot be entered stops the run.
  char missing[] = "C:\\gone\\a.png";
  ProcessFile(missing);
  EXPECT_EQ(fake.calls, Calls{"SetCurrentDirectoryA C:\\gone"});

  // The longest path the entry lets through fits; a longer one is passed over.
  std::string folder = "C:\\" + std::string(2038, 'f');
  fake.AddFolder(folder, {});
  std::string longest = folder + "\\a.png";
  ASSERT_EQ(longest.size(), LongestTail);
  fake.calls.clear();
  ProcessFile(longest.data());
  EXPECT_EQ(fake.calls.at(0), "SetCurrentDirectoryA " + folder);
  std::string longer = "C:\\" + std::string(3000, 'f') + "\\a.png";
  fake.calls.clear();
  ProcessFile(longer.data());
  EXPECT_EQ(fake.calls, Calls{});
}

TEST_F(Driver, CommandLineIsExactByteForByte) {
  strcpy(ToolFolder, "C:\\Tools");
  RunOptimizer("a.png");
  std::string line = fake.calls.at(0).substr(strlen("CreateProcessA "));
  EXPECT_EQ(line,
            "\"C:\\Tools\\pngcrush.bin\" -rem alla -brute -reduce \"a.png\" "
            "\".\\_talvek\\a.png\"");
  EXPECT_EQ(line.size(), 74u);

  // A tool folder at a drive root keeps its separator, doubled before the name.
  ResetFake();
  fake.module = "C:\\talvek.exe";
  fake.AddFolder("C:\\p", {"my photo.png"});
  Run("C:\\p");
  EXPECT_EQ(fake.calls.at(5),
            "CreateProcessA \"C:\\\\pngcrush.bin\" -rem alla -brute -reduce "
            "\"my photo.png\" \".\\_talvek\\my photo.png\"");

  // 4095 bytes are started; a command that would be cut is not.
  ResetFake();
  memset(ToolFolder, 'T', 1023);
  RunOptimizer(std::string(1508, 'n').c_str());
  EXPECT_EQ(fake.calls.at(0).size(), strlen("CreateProcessA ") + 4095);
  fake.calls.clear();
  RunOptimizer(std::string(1509, 'n').c_str());
  EXPECT_EQ(fake.calls, Calls{});
}

TEST(FormatBounded, ReportsFitCutAndRefusal) {
  char buffer[8];
  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(FormatBounded(buffer, 8, "%s-%s", "abc", "def"), FormatFitted);
  EXPECT_STREQ(buffer, "abc-def");

  EXPECT_EQ(FormatBounded(buffer, 8, "%s%s", "abcd", "efgh"), FormatCut);
  EXPECT_STREQ(buffer, "abcdefg");
  EXPECT_EQ(FormatBounded(buffer, 1, "%s", "x"), FormatCut);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(FormatBounded(buffer, 1, "%s", ""), FormatFitted);

  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(FormatBounded(buffer, 0, "%s", "x"), FormatRefused);
  EXPECT_EQ(FormatBounded(buffer, 2147483648u, "%s", "x"), FormatRefused);
  EXPECT_EQ(buffer[0], '#');
}

}  // namespace
