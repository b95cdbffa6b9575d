#include "TARVO_SupportLib/ConfigString.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

TEST(ConfigStringTest, ReadsEntriesWithBlanksQuotesAndEmptyItems) {
  bool ok = false;
  ConfigString s(L"  LINE = SIM1 ;ADDR=3;; NAME=\" a;b \"\"c\"\" \" ; EMPTY= ;", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(s.GetEntry(L"LINE"), L"SIM1");
  EXPECT_EQ(s.GetEntry(L"addr"), L"3");  // names ignore ASCII case
  EXPECT_EQ(s.GetEntry(L"NAME"), L" a;b \"c\" ");
  EXPECT_TRUE(s.HasEntry(L"EMPTY"));
  EXPECT_EQ(s.GetEntry(L"EMPTY"), L"");
  EXPECT_EQ(s.Entries().size(), 4u);
}

// Present with an empty value still counts as present.
TEST(ConfigStringTest, GetEntryTakesTheFirstPresentName) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"GDEV=g;DEV=d", L"d"}, {L"GDEV=g", L"g"}, {L"DEV=;GDEV=g", L""}, {L"LINE=1", L""}, {L"", L""}};
  for (const auto& [text, entry] : cases) EXPECT_EQ(ConfigString(text).GetEntry(L"DEV", L"GDEV"), entry) << text;
}

TEST(ConfigStringTest, MalformedTextIsReportedAndLeavesNoEntries) {
  const wchar_t* malformed[] = {
      L"DEV",             // no '='
      L"=x",              // no name
      L"D EV=x",          // blank inside a name
      L"DEV=\"open",      // quote not closed
      L"DEV=\"a\" b",     // text after the closing quote
      L"DEV=a\"b",        // quote inside an unquoted value
      L"DEV=a;dev=b",     // a name given twice
      L"LINE=1;A\u00e9=2",  // a name character outside the allowed set
  };
  for (const wchar_t* text : malformed) {
    bool ok = true;
    ConfigString s(text, &ok);
    EXPECT_FALSE(ok) << "accepted: " << testing::PrintToString(std::wstring(text));
    EXPECT_FALSE(s.IsWellFormed());
    EXPECT_TRUE(s.Entries().empty());
    EXPECT_EQ(s.GetEntry(L"LINE", L"DEV"), L"");
  }
  // Without a flag the caller still gets a usable, empty object.
  EXPECT_EQ(ConfigString(L"DEV").GetEntry(L"DEV"), L"");
}

TEST(ConfigStringTest, QuotedValuesReadBackUnchanged) {
  const std::wstring values[] = {L"plain", L"", L" lead", L"trail ", L"semi;colon", L"say \"hi\"", L"\"\""};
  for (const std::wstring& value : values) {
    bool ok = false;
    ConfigString s(L"X=" + ConfigString::QuoteValue(value) + L";Y=1", &ok);
    ASSERT_TRUE(ok) << testing::PrintToString(value);
    EXPECT_EQ(s.GetEntry(L"X"), value);
    EXPECT_EQ(s.GetEntry(L"Y"), L"1");
  }
}

}  // namespace
