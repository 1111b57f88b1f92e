#include "store/blacklist.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace torvane {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

TEST(BlacklistLookup, SubstringAnywhereIncludingAcrossTwoNumbers) {
  TempDir dir;
  EXPECT_FALSE(BlacklistContains(dir.path(), "1234"));
  EXPECT_FALSE(BlacklistContains(dir.path(), ""));  // nothing in a missing file
  ASSERT_TRUE(BlacklistAppend(dir.path(), "91234"));
  EXPECT_TRUE(BlacklistContains(dir.path(), "1234"));
  EXPECT_FALSE(BlacklistContains(dir.path(), "12345"));

  TempDir other;
  ASSERT_TRUE(BlacklistAppend(other.path(), "5512"));
  ASSERT_TRUE(BlacklistAppend(other.path(), "3466"));
  EXPECT_EQ(ReadBytes(BlacklistPath(other.path())), "55123466");
  EXPECT_TRUE(BlacklistContains(other.path(), "1234"));  // straddles the two numbers
  EXPECT_TRUE(BlacklistContains(other.path(), ""));      // empty number: any non-empty file
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
  TempDir dir;
  std::filesystem::create_directory(BlacklistPath(dir.path()));
  std::string error;
  EXPECT_TRUE(BlacklistContains(dir.path(), "1", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(BlacklistAppend(dir.path(), "1", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(std::filesystem::is_directory(BlacklistPath(dir.path())));
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
  for (auto& th : threads) th.join();
  for (int n = 0; n < 400; ++n) {
    if (n % 100 >= 25) continue;
    EXPECT_TRUE(BlacklistContains(small.path(), "<" + std::to_string(n) + ">")) << n;
  }
}

}  // namespace
}  // namespace torvane
