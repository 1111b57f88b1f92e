#include <gtest/gtest.h>

#include "web/text.h"

using namespace torvane;

TEST(TextSearch, OneByteMarkerNeverMatchesTrailingByte) {
  // 0xB0 0x5C is one character whose second byte is a backslash.
  std::string text = "\xB0\x5C" "a\\b";
  EXPECT_EQ(FindText(text, "\\"), 3u);
  EXPECT_FALSE(ContainsText("\xB0\x5C", "\\"));
}
