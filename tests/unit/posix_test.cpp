// The POSIX layer's string work: Windows-style command lines and the path
// helpers with '/' as a separator and no drive letters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmdline.h"
#include "path.h"

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

}  // namespace
