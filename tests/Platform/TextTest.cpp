// Wide to 8-bit text as the library converts it: what cannot be converted
// becomes the default character.
#include <gtest/gtest.h>

#include <string>

#include "Platform/Win32.h"

namespace {

TEST(TextTest, WhatCannotBeConvertedBecomesTheDefaultCharacter) {
  const wchar_t bad[] = {L'x', static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000), L'y', 0};
  BOOL usedDefault = FALSE;
  char out[8] = {};
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, bad, -1, out, sizeof out, nullptr, &usedDefault), 5);
  EXPECT_STREQ(out, "x??y");
  EXPECT_TRUE(usedDefault);
  EXPECT_EQ(WideToAnsi(bad), "x??y");
  EXPECT_EQ(WideToAnsi(L"a\u00e9\u20ac"), "a\xC3\xA9\xE2\x82\xAC");  // 1 + 2 + 3 bytes in UTF-8
}

}  // namespace
