// The POSIX layer's string work: Windows-style command lines, the path
// helpers with '/' as a separator and no drive letters, and the report's
// words and numbers.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "cmdline.h"
#include "path.h"
#include "text.h"

namespace {

std::vector<std::string> Split(std::string line) {
  std::vector<char *> pointers(64);
  int count = cmdline::SplitCommandLine(line.data(), pointers.data(), 64);
  return std::vector<std::string>(pointers.begin(), pointers.begin() + count);
}

std::string Join(const std::vector<const char *> &arguments) {
  char line[512];
  EXPECT_TRUE(cmdline::JoinCommandLine(line, sizeof line, (int)arguments.size(),
                                       arguments.data()));
  return line;
}

TEST(CommandLine, JoinQuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(Join({"/usr/bin/talvek", "/home/me/my pics"}),
            "/usr/bin/talvek \"/home/me/my pics\"");
  EXPECT_EQ(Join({"talvek", "/home/me/my", "pics"}), "talvek /home/me/my pics");
  EXPECT_EQ(Join({"/my \"bin\"/talvek", "", "a\\b", "say \"hi\\\"", "end\\ "}),
            "\"/my bin/talvek\" \"\" a\\b \"say \\\"hi\\\\\\\"\" \"end\\ \"");

  char small[8];
  const char *arguments[] = {"talvek", "a-long-argument"};
  EXPECT_FALSE(cmdline::JoinCommandLine(small, sizeof small, 2, arguments));
  EXPECT_STREQ(small, "talvek ");
}

TEST(CommandLine, SplitFollowsTheRuntimeRules) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Split("\"/t/pngcrush.bin\" -rem alla \"a b.png\" \"./_talvek/a b.png\""),
            V({"/t/pngcrush.bin", "-rem", "alla", "a b.png", "./_talvek/a b.png"}));
  EXPECT_EQ(Split("C:\\a\\\"b c\" x\\\\\"y z\" \\\\\\\"q \"\"\"\" \"\""),
            V({"C:\\a\\b c", "x\\y z", "\\\"q", "\"", ""}));
  EXPECT_EQ(Split("  "), V({""}));

  // Whatever is joined comes back unchanged.
  std::vector<const char *> arguments = {"/p/talvek", "", " ", "\"", "\\",
                                         "a\\\\\"", "\t\\\\", "x y\\", "-ow"};
  EXPECT_EQ(Split(Join(arguments)),
            V(arguments.begin(), arguments.end()));

  std::vector<char *> room(2);
  std::string many = "p a b c";
  EXPECT_EQ(cmdline::SplitCommandLine(many.data(), room.data(), 2), -1);
}

TEST(Path, HelpersTakeBothSeparatorsAndNoDrives) {
  struct Case {
    const char *path, *extension, *name, *folder;
  } cases[] = {
      {"/p/Photo.PNG", ".PNG", "Photo.PNG", "/p"},
      {"a.b/c", "", "c", "a.b"},
      {"dir\\x.tar.png", ".png", "x.tar.png", "dir"},
      {"my photo.png", ".png", "my photo.png", ""},
      {"photo.png ", "", "photo.png ", ""},
      {"/talvek", "", "talvek", "/"},
      {"a:b.png", ".png", "a:b.png", ""},
      {"/p/sub/", "", "sub/", "/p/sub"},
      {"", "", "", ""},
  };
  for (const Case &c : cases) {
    EXPECT_STREQ(path::FindExtension(c.path), c.extension) << c.path;
    EXPECT_STREQ(path::FindFileName(c.path, false), c.name) << c.path;
    std::string folder = c.path;
    path::RemoveFileSpec(folder.data(), false);
    EXPECT_STREQ(folder.c_str(), c.folder) << c.path;
  }
  std::string root = "C:\\talvek.exe";
  path::RemoveFileSpec(root.data(), true);
  EXPECT_STREQ(root.c_str(), "C:\\");
}

TEST(Path, PatternIgnoresCase) {
  EXPECT_TRUE(path::MatchesPattern("*.png", "A.PNG"));
  EXPECT_TRUE(path::MatchesPattern("*.png", ".png"));
  EXPECT_TRUE(path::MatchesPattern("*.png", "a.png.png"));
  EXPECT_FALSE(path::MatchesPattern("*.png", "a.pngx"));
  EXPECT_FALSE(path::MatchesPattern("*.png", "png"));
  EXPECT_TRUE(path::MatchesPattern("?b*", "abc"));
}

std::string Escaped(const char *name, bool markup, size_t capacity = 256) {
  char out[256];
  text::EscapeName(name, out, capacity, markup);
  return out;
}

TEST(Text, NamesCannotDriveATerminal) {
  EXPECT_EQ(Escaped("año ñ €𝄞.png", false), "año ñ €𝄞.png");
  EXPECT_EQ(Escaped("a\x1b[31m\tb\x7f\\c", false),
            "a\\x1b[31m\\x09b\\x7f\\\\c");
  // Invalid UTF-8: a stray continuation, a cut sequence, '/' overlong in
  // two and three bytes, a surrogate, past U+10FFFF, and a C1 control
  // (U+009B, CSI).
  EXPECT_EQ(Escaped("\x80|\xe2\x82|\xc0\xaf|\xe0\x80\xaf|\xed\xa0\x80|"
                    "\xf4\x90\x80\x80|\xc2\x9b", false),
            "\\x80|\\xe2\\x82|\\xc0\\xaf|\\xe0\\x80\\xaf|\\xed\\xa0\\x80|"
            "\\xf4\\x90\\x80\\x80|\\xc2\\x9b");
  EXPECT_EQ(Escaped("a & <b>", false), "a & <b>");
  EXPECT_EQ(Escaped("a & <b>\x01", true), "a &amp; &lt;b&gt;\\x01");
  // Cut between two characters, never inside one or inside an escape.
  EXPECT_EQ(Escaped("ab€", false, 5), "ab");
  EXPECT_EQ(Escaped("ab\x01", false, 6), "ab");
  EXPECT_EQ(text::Columns("añ€\\x01"), 7u);
}

// Each case: the figures given, and the words they must come to.
template <typename Format>
void ExpectWords(Format format, std::vector<std::tuple<unsigned long long, unsigned long long,
                                                       const char *>> cases) {
  for (auto [first, second, shown] : cases) {
    char out[48];
    format(first, second, out, sizeof out);
    EXPECT_STREQ(out, shown) << first << " " << second;
  }
}

TEST(Text, SizesChangesAndTimes) {
  auto size = [](auto bytes, auto, char *out, size_t n) { text::FormatSize(bytes, out, n); };
  ExpectWords(size, {{0, 0, "0 B"}, {9999, 0, "9999 B"}, {10000, 0, "10.0 kB"},
                     {35749, 0, "35.7 kB"}, {35750, 0, "35.8 kB"}, {999949, 0, "999.9 kB"},
                     {999950, 0, "1.0 MB"}, {1325023, 0, "1.3 MB"}, {2000000000, 0, "2.0 GB"}});
  ExpectWords(text::FormatChange,
              {{1000, 1000, "the same size"}, {1000, 760, "24 % smaller"},
               {1000, 986, "1.4 % smaller"}, {1000, 1021, "2.1 % larger"},
               {1000, 901, "9.9 % smaller"}, {10000, 9000, "10 % smaller"},
               {2980, 2979, "under 0.1 % smaller"}, {0, 0, "the same size"}});
  auto time = [](auto milliseconds, auto, char *out, size_t n) { text::FormatTime(milliseconds, out, n); };
  ExpectWords(time, {{0, 0, "0.0 s"}, {349, 0, "0.3 s"}, {59949, 0, "59.9 s"},
                     {59950, 0, "1 min 00 s"}, {65400, 0, "1 min 05 s"}, {3599499, 0, "59 min 59 s"},
                     {3599500, 0, "1 h 00 min"}, {7529000, 0, "2 h 05 min"}});
}

}  // namespace
