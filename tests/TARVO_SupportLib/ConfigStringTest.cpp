#include "TARVO_SupportLib/ConfigString.h"

#include <gtest/gtest.h>

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

}  // namespace
