// The trace channel between a writer process (a child of the test, whose
// library opens the channel at load) and a reader (the test itself).
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "Platform/Time.h"
#include "Trace/TraceLayout.h"
#include "Trace/TraceReader.h"

namespace {

using namespace qtmtrace;

constexpr LONG kHoldingMarker = 0x4C4C494B;

class TraceChannelTest : public testing::Test {
 protected:
  void SetUp() override {
    m_suffix = TraceNameSuffix() + "-" + testing::UnitTest::GetInstance()->current_test_info()->name();
    m_reader = CQTMTraceReader::Attach(m_suffix);
    ASSERT_NE(m_reader, nullptr);
    m_reader->SetFilter("HO");
    m_reader->SetTracing(true);
  }
  void TearDown() override {
    m_reader.reset();
    CQTMTraceReader::RemoveChannel(m_suffix);
    CQTMTraceReader::RemoveChannel(m_suffix + "-late");
  }

  // Runs a writer child to its end and returns the lines it left.
  std::vector<std::string> RunWriter(const std::string& mode, const std::vector<std::string>& arguments = {}) {
    ChildProcess child(mode, arguments, m_suffix);
    EXPECT_EQ(child.Wait(), 0);
    std::vector<std::string> lines;
    m_reader->TakeLines(lines);
    return lines;
  }

  LONG Field(std::size_t offset) { return ReadLong(m_reader->View(), offset); }
  void SetField(std::size_t offset, LONG value) { WriteLong(m_reader->View(), offset, value); }

  // Polls a field until it has `value`, for at most five seconds.
  bool AwaitField(std::size_t offset, LONG value) {
    for (int i = 0; i < 2500 && Field(offset) != value; ++i) Sleep(2);
    return Field(offset) == value;
  }

  std::string m_suffix;
  std::unique_ptr<CQTMTraceReader> m_reader;
};

TEST_F(TraceChannelTest, LinesArriveInOrderAndWakeTheReader) {
  ChildProcess child("lines", {"50"}, m_suffix);
  std::vector<std::string> lines;
  // Woken by the event; the writer is bounded by the child's timeout.
  for (int wakeUps = 0; lines.size() < 51 && wakeUps < 200; ++wakeUps) {
    m_reader->WaitForLines(5000);
    m_reader->TakeLines(lines);
  }
  EXPECT_EQ(child.Wait(), 0);
  m_reader->TakeLines(lines);
  ASSERT_EQ(lines.size(), 51u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(lines[i], "line " + std::to_string(i) + "\n");
  EXPECT_EQ(lines[50], "always\n");
  EXPECT_EQ(Field(kPendingOffset), 0);
  EXPECT_EQ(Field(kWriteIndexOffset), 51);
  EXPECT_EQ(Field(kReadIndexOffset), 51);
}

TEST_F(TraceChannelTest, FilterChoosesCategoriesAndPrefixParts) {
  m_reader->SetFilter("HO@IN");
  std::vector<std::string> lines = RunWriter("lines", {"1"});
  ASSERT_EQ(lines.size(), 2u);
  const std::regex prefixed(R"(tracetest\([0-9A-F]{2,}\)\([0-9]{5}\): (line 0|always)\n)");
  EXPECT_TRUE(std::regex_match(lines[0], prefixed)) << lines[0];
  EXPECT_NE(lines[0].find(": line 0\n"), std::string::npos);
  EXPECT_TRUE(std::regex_match(lines[1], prefixed)) << lines[1];

  // Lower case in the filter matches nothing; a half category matches nothing.
  for (const char* filter : {"ho", "HO", "H", ""}) {
    SCOPED_TRACE(filter);
    m_reader->SetFilter(filter);
    const std::vector<std::string> always{"always\n"}, both{"line 0\n", "always\n"};
    EXPECT_EQ(RunWriter("lines", {"1"}), std::string(filter) == "HO" ? both : always);
  }

  m_reader->SetFilter("NE");
  const std::vector<std::string> errors = RunWriter("lines", {"1"});
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_TRUE(std::regex_match(errors[0], std::regex(R"(\([0-9]{5}\): always\n)"))) << errors[0];
  EXPECT_TRUE(std::regex_match(errors[1], std::regex(R"(\([0-9]{5}\): ERROR: bad 1\n)"))) << errors[1];
}

TEST_F(TraceChannelTest, TracingOffWritesNothing) {
  m_reader->SetTracing(false);
  EXPECT_TRUE(RunWriter("lines", {"3"}).empty());
  EXPECT_EQ(Field(kWriteIndexOffset), 0);
}

TEST_F(TraceChannelTest, LineOf512CharactersIsWrittenAndOf513Dropped) {
  EXPECT_EQ(RunWriter("long"), (std::vector<std::string>{std::string(511, 'a') + "\n"}));
}

TEST_F(TraceChannelTest, SlotAfter999IsSlot0) {
  SetField(kWriteIndexOffset, 999);
  SetField(kReadIndexOffset, 999);
  ChildProcess child("lines", {"2"}, m_suffix);
  ASSERT_EQ(child.Wait(), 0);
  EXPECT_STREQ(Slot(m_reader->View(), 999), "line 0\n");
  EXPECT_STREQ(Slot(m_reader->View(), 0), "line 1\n");
  EXPECT_EQ(Field(kWriteIndexOffset), 2);
  std::vector<std::string> lines;
  m_reader->TakeLines(lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"line 0\n", "line 1\n", "always\n"}));
}

TEST_F(TraceChannelTest, WriterWaitsAbove900PendingUntilTheReaderDrains) {
  SetField(kPendingOffset, 900);
  ChildProcess child("lines", {"2"}, m_suffix);
  // The first line takes the count to 901; the second must wait.
  ASSERT_TRUE(AwaitField(kPendingOffset, 901));
  Sleep(100);
  EXPECT_TRUE(child.Running());
  EXPECT_EQ(Field(kPendingOffset), 901);
  EXPECT_EQ(Field(kWriteIndexOffset), 1);

  std::vector<std::string> lines;
  EXPECT_EQ(m_reader->TakeLines(lines), 901u);
  EXPECT_EQ(lines.back(), "line 0\n");
  EXPECT_EQ(child.Wait(), 0);
  lines.clear();
  m_reader->TakeLines(lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"line 1\n", "always\n"}));
}

TEST_F(TraceChannelTest, WaitingWriterDropsItsLineWhenTracingIsSwitchedOff) {
  SetField(kPendingOffset, 901);
  ChildProcess child("lines", {"1"}, m_suffix);
  Sleep(100);
  m_reader->SetTracing(false);
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(Field(kPendingOffset), 901);
  EXPECT_EQ(Field(kWriteIndexOffset), 0);
}

TEST_F(TraceChannelTest, ReaderKilledWhileHoldingTheMutexDoesNotHangTheWriter) {
  ChildProcess holder("hold-mutex", {}, m_suffix);
  ASSERT_TRUE(AwaitField(kReadIndexOffset, kHoldingMarker));
  holder.Kill();
  EXPECT_EQ(RunWriter("lines", {"1"}), (std::vector<std::string>{"line 0\n", "always\n"}));
}

TEST_F(TraceChannelTest, ModuleLoadedBeforeTheViewerNeverWrites) {
  ChildProcess child("viewer-after-load", {}, m_suffix + "-late");
  EXPECT_EQ(child.Wait(), 0);
}

}  // namespace
