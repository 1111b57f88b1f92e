#include "store/blacklist.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/deadline.h"
#include "support/temp_dir.h"

namespace torvane {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

TEST(BlacklistLookup, NumbersAppendedHereCountWholeAndTheCarriedOverPartBySubstring) {
  struct Row {
    const char* name;
    std::string carriedOver;             // the file as an older installation left it ("" none)
    std::vector<std::string> appended;   // then appended here
    std::vector<std::string> listed, notListed;
  };
  const Row rows[] = {
      {"whole numbers", "", {"5551234", "5512", "3466"}, {"5551234", "3466"}, {"123", "1234", "555", "5", "12345"}},
      {"carried over", "55123466", {"777"}, {"1234", "5512", "777"}, {"77", "4667", "6677"}},
      {"nothing", "", {}, {}, {"1", ""}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    if (!row.carriedOver.empty()) WriteBytes(BlacklistPath(dir.path()), row.carriedOver);
    std::string expected = row.carriedOver;
    for (const std::string& n : row.appended) {
      ASSERT_TRUE(BlacklistAppend(dir.path(), n));
      expected += n;
    }
    EXPECT_EQ(ReadBytes(BlacklistPath(dir.path())), expected);  // the file keeps its form
    for (const std::string& n : row.listed) EXPECT_TRUE(BlacklistContains(dir.path(), n)) << n;
    for (const std::string& n : row.notListed) EXPECT_FALSE(BlacklistContains(dir.path(), n)) << n;
  }
}

TEST(BlacklistLookup, ChangesBehindItsBackAreSearchedBySubstring) {
  TempDir dir;
  ASSERT_TRUE(BlacklistAppend(dir.path(), "5551234"));
  // An older copy of the program appends without the side record.
  WriteBytes(BlacklistPath(dir.path()), ReadBytes(BlacklistPath(dir.path())) + "8889");
  ASSERT_TRUE(BlacklistAppend(dir.path(), "42"));
  EXPECT_TRUE(BlacklistContains(dir.path(), "88"));
  EXPECT_FALSE(BlacklistContains(dir.path(), "123"));
  EXPECT_FALSE(BlacklistContains(dir.path(), "894"));  // across into a whole number
  EXPECT_TRUE(BlacklistContains(dir.path(), ""));      // empty number: any non-empty file

  // Stopped between the side record and the blacklist: the number counts, and is completed later.
  WriteBytes(HandledOrdersPath(dir.path()), ReadBytes(HandledOrdersPath(dir.path())) + "13 777\r\n");
  EXPECT_TRUE(BlacklistContains(dir.path(), "777"));
  ASSERT_TRUE(CompleteBlacklist(dir.path()));
  ASSERT_TRUE(CompleteBlacklist(dir.path()));
  EXPECT_EQ(ReadBytes(BlacklistPath(dir.path())), "5551234888942777");
  WriteBytes(HandledOrdersPath(dir.path()), ReadBytes(HandledOrdersPath(dir.path())) + "16 31\r\n");
  ASSERT_TRUE(BlacklistAppend(dir.path(), "6"));
  EXPECT_EQ(ReadBytes(BlacklistPath(dir.path())), "5551234888942777316");
  EXPECT_FALSE(BlacklistContains(dir.path(), "73"));

  // A blacklist replaced by another file: all of it is searched by substring.
  WriteBytes(BlacklistPath(dir.path()), "9123");
  EXPECT_TRUE(BlacklistContains(dir.path(), "12"));
  EXPECT_EQ(BlacklistPath(dir.path()).filename(), std::filesystem::path(u8"临时黑名单.log"));
}

TEST(BlacklistLookup, NulBytesArePlainBytes) {
  TempDir dir;
  WriteBytes(BlacklistPath(dir.path()), std::string("11\0" "22", 5));
  EXPECT_TRUE(BlacklistContains(dir.path(), "22"));
  EXPECT_TRUE(BlacklistContains(dir.path(), std::string("1\0" "2", 3)));
  EXPECT_FALSE(BlacklistContains(dir.path(), "1122"));
}

TEST(BlacklistLookup, UnreadableFileCountsAsListedAndSaysWhy) {
  for (const auto& path : {BlacklistPath, HandledOrdersPath}) {
    TempDir dir;
    std::filesystem::create_directory(path(dir.path()));
    std::string error;
    EXPECT_TRUE(BlacklistContains(dir.path(), "1", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(BlacklistAppend(dir.path(), "1", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(std::filesystem::is_directory(path(dir.path())));
  }
}

TEST(BlacklistAppendMany, LargeFileAndConcurrentAppendsLoseNothing) {
  TempDir dir;
  std::string big(50u * 1024 * 1024, '7');
  big += "X42";
  WriteBytes(BlacklistPath(dir.path()), big);
  EXPECT_TRUE(BlacklistContains(dir.path(), "X42"));
  EXPECT_FALSE(BlacklistContains(dir.path(), "8"));

  TempDir small;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&small, t] {
      for (int i = 0; i < 25; ++i) BlacklistAppend(small.path(), "<" + std::to_string(t * 100 + i) + ">");
    });
  }
  test::JoinWithin(threads, "the appending threads");
  for (int n = 0; n < 400; ++n) {
    if (n % 100 >= 25) continue;
    EXPECT_TRUE(BlacklistContains(small.path(), "<" + std::to_string(n) + ">")) << n;
  }
}

}  // namespace
}  // namespace torvane
