// Wide to 8-bit text as the library converts it (what cannot be converted
// becomes the default character), and _wtoi.
#include <gtest/gtest.h>

#include <climits>
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

TEST(TextTest, WtoiReadsTheLeadingDecimalNumber) {
  EXPECT_EQ(_wtoi(L"476"), 476);
  EXPECT_EQ(_wtoi(L"  -12abc"), -12);
  EXPECT_EQ(_wtoi(L"+7"), 7);
  EXPECT_EQ(_wtoi(L"abc"), 0);
  EXPECT_EQ(_wtoi(L""), 0);
  EXPECT_EQ(_wtoi(nullptr), 0);
  EXPECT_EQ(_wtoi(L"99999999999999999999"), INT_MAX);
  EXPECT_EQ(_wtoi(L"-99999999999999999999"), INT_MIN);
}

}  // namespace
