// The optimizer's plan of its measuring trials (optimizer/pngcrush-trials.c)
// against pngcrush's table of methods, rebuilt here from its numbering: the
// twins left out must be exactly the 51 that zlib's rules give, each taking
// its earlier twin's length; and the rows are kept, within the cap, only
// for measuring trials.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <vector>

extern "C" {
#include "pngcrush-trials.h"
}

// A stand-in for zlib's version: the twins rest on zlib 1.2.13's code.
const char *zlib_version = "1.2.13";
extern "C" const char *zlibVersion(void) { return zlib_version; }

namespace {

// pngcrush 1.8.13's methods 1 to 176 (177 is the last trial): filter, level,
// strategy (0 default, 1 filtered, 2 Huffman only, 3 run-length); 1 to 10 one by one.
struct Table {
  int fm[178] = {}, lv[178] = {}, zs[178] = {};
  Table() {
    int first[10][3] = {{0, 4, 0}, {1, 4, 0}, {6, 4, 1}, {0, 9, 1}, {1, 9, 1},
                        {6, 9, 0}, {0, 9, 0}, {1, 9, 1}, {6, 2, 2}, {6, 9, 1}};
    for (int m = 1; m <= 10; m++) Set(m, first[m - 1][0], first[m - 1][1], first[m - 1][2]);
    int m = 11;
    for (int f = 0; f <= 5; f++, m++) Set(m, f, 2, 2);
    for (int l = 1; l <= 9; l++)
      for (int s = 0; s <= 1; s++)
        for (int f = 0; f <= 5; f++, m++) Set(m, f, l, s);
    for (int l : {1, 4})
      for (int f = 0; f <= 5; f++, m++) Set(m, f, l, 3);
    for (int s = 0; s <= 1; s++)
      for (int f = 0; f <= 5; f++, m++) Set(m, f, 0, s);
    for (int s = 0; s <= 3; s++)
      for (int l = 1; l <= (s == 2 ? 1 : 9); l++, m++) Set(m, 6, l, s);
    EXPECT_EQ(m, 177);
  }
  void Set(int m, int f, int l, int s) { fm[m] = f, lv[m] = l, zs[m] = s; }
};

// The twins by the methods' numbers alone, each with its earlier twin (1 to
// 10 as pngcrush.c's table names them; 167 Huffman codes like 9).
std::map<int, int> Twins() {
  std::map<int, int> twins = {{8, 5},    {53, 1},  {54, 2},   {113, 7}, {119, 4},
                              {120, 5},  {157, 6}, {161, 3},  {166, 10}, {167, 9}};
  for (int f = 0; f <= 5; f++) {
    twins[143 + f] = 137 + f;  // stored, filtered and default
    twins[131 + f] = 125 + f;  // run-length at level 4 and 1
    for (int l = 0; l < 3; l++) twins[23 + 12 * l + f] = 17 + 12 * l + f;  // levels 1-3
  }
  for (int m = 169; m <= 176; m++) twins[m] = 168;
  for (int l = 0; l < 3; l++) twins[158 + l] = 149 + l;
  return twins;
}

std::vector<int> AllTried() {
  std::vector<int> tried(178, 1);
  for (int m = 1; m <= 176; m++) tried[m] = 0;
  return tried;
}

TEST(Trials, TwinsAreLeftOutAndTakeTheirEarlierTwinsLength) {
  Table table;
  std::vector<int> tried = AllTried();
  unsetenv("PNGCRUSH_TRIALS_IN_FULL");
  EXPECT_EQ(trials_plan(tried.data(), 177, table.fm, table.lv, table.zs, 1, 0), 0);
  std::map<int, int> twins = Twins();
  ASSERT_EQ(twins.size(), 51u);
  png_uint_32 length[178];
  for (int m = 0; m < 178; m++) {
    EXPECT_EQ(tried[m], m < 1 || m > 176 || twins.count(m)) << "method " << m;
    length[m] = twins.count(m) ? 0xffffffffu : 1000 + m;
  }
  trials_fill_twins(length, 177);
  for (auto [twin, earlier] : twins) EXPECT_EQ(length[twin], 1000u + earlier);

  // Without twins (the heuristic mode), or every trial run in full from
  // the file, or with another zlib (zlib-ng's in zlib's stead), nothing is
  // left out.
  for (const char *full : {static_cast<const char *>(nullptr), "old"}) {
    tried = AllTried();
    if (full) setenv("PNGCRUSH_TRIALS_IN_FULL", full, 1);
    EXPECT_EQ(trials_plan(tried.data(), 177, table.fm, table.lv, table.zs, full != nullptr, 0),
              full != nullptr);
    EXPECT_EQ(tried, AllTried());
  }
  unsetenv("PNGCRUSH_TRIALS_IN_FULL");
  zlib_version = "1.3.0.zlib-ng";
  tried = AllTried();
  trials_plan(tried.data(), 177, table.fm, table.lv, table.zs, 1, 0);
  EXPECT_EQ(tried, AllTried());
  zlib_version = "1.2.13";
}

TEST(Trials, RowsAreKeptForMeasuringTrialsWithinTheCap) {
  Table table;
  std::vector<int> tried = AllTried();
  png_byte row_buf[8];
  trials_plan(tried.data(), 177, table.fm, table.lv, table.zs, 1, 0);
  // Trial 0 and the last trial read as before.
  EXPECT_EQ(trials_rows_begin(1, 4, 8, 1), 0);
  EXPECT_EQ(trials_row(row_buf, 0), row_buf);
  // 24 MiB of rows: over the cap of 64 MiB for three processes, and not
  // for two; kept by the first measuring trial, used by the next.
  EXPECT_EQ(trials_rows_begin(0, 6144, 4096, 3), 0);
  EXPECT_EQ(trials_rows_begin(0, 6144, 4096, 2), 1);
  png_bytep kept = trials_row(row_buf, 1);
  EXPECT_NE(kept, row_buf);
  trials_rows_end();
  EXPECT_EQ(trials_rows_begin(0, 6144, 4096, 2), 2);
  EXPECT_EQ(trials_row(row_buf, 1), kept);
  EXPECT_EQ(trials_rows_begin(1, 6144, 4096, 2), 0);
  // A new file keeps nothing of the last.
  trials_plan(tried.data(), 177, table.fm, table.lv, table.zs, 1, 0);
  EXPECT_EQ(trials_rows_begin(0, 6144, 4096, 2), 1);
}

}  // namespace
