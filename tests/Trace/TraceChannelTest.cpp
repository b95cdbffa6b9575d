// The trace channel between a writer process (a child of the test, whose
// library opens the channel at load) and a reader (the test itself).
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "Platform/Handle.h"
#include "Platform/LastError.h"
#include "Platform/NamedObjects.h"
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
    TearDown();  // objects left by a process that had this id
    Attach();
  }
  // Attaches the test's reader (filter "HO", tracing on).
  void Attach() {
    m_reader.reset();
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

  // A read-only view of the channel that a child viewer holds, once the
  // child says it holds it (its read index set to kHoldingMarker).
  struct ChildViewerChannel {
    explicit ChildViewerChannel(const std::string& suffix)
        : mapping(OpenFileMappingA(FILE_MAP_READ, FALSE, (kMappingBaseName + suffix).c_str())),
          view(mapping != nullptr ? static_cast<const BYTE*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, kChannelSize))
                                  : nullptr) {
      for (int i = 0; view != nullptr && i < 2500 && !Held(); ++i) Sleep(2);
    }
    ~ChildViewerChannel() {
      if (view != nullptr) UnmapViewOfFile(view);
      if (mapping != nullptr) CloseHandle(mapping);
    }
    bool Held() const { return view != nullptr && Field(kReadIndexOffset) == kHoldingMarker; }
    LONG Field(std::size_t offset) const { return ReadLong(view, offset); }

    const HANDLE mapping;
    const BYTE* const view;
  };

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

// The ring starts at its last slot, so the lines wrap to slot 0. The
// viewer's wake-up is checked in this process (ChannelOpenTest) and from a
// writer of another process (the killed-viewer test).
TEST_F(TraceChannelTest, LinesArriveInOrderAcrossTheEndOfTheRingUpToTheLongestLine) {
  SetField(kWriteIndexOffset, 999);
  SetField(kReadIndexOffset, 999);
  ChildProcess child("lines", {"50"}, m_suffix);
  ASSERT_EQ(child.Wait(), 0);
  EXPECT_STREQ(Slot(m_reader->View(), 999), "line 0\n");
  EXPECT_STREQ(Slot(m_reader->View(), 0), "line 1\n");
  EXPECT_EQ(Field(kWriteIndexOffset), 50);
  std::vector<std::string> lines;
  m_reader->TakeLines(lines);
  ASSERT_EQ(lines.size(), 51u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(lines[i], "line " + std::to_string(i) + "\n");
  EXPECT_EQ(lines[50], "always\n");
  EXPECT_EQ(Field(kPendingOffset), 0);
  EXPECT_EQ(Field(kReadIndexOffset), 50);
  // A line of 512 characters is written, one of 513 dropped.
  EXPECT_EQ(RunWriter("long"), (std::vector<std::string>{std::string(511, 'a') + "\n"}));
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

  const LONG written = Field(kWriteIndexOffset);
  m_reader->SetTracing(false);
  EXPECT_TRUE(RunWriter("lines", {"3"}).empty()) << "tracing off writes nothing";
  EXPECT_EQ(Field(kWriteIndexOffset), written);
  m_reader->SetTracing(true);

  m_reader->SetFilter("NE");
  const std::vector<std::string> errors = RunWriter("lines", {"1"});
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_TRUE(std::regex_match(errors[0], std::regex(R"(\([0-9]{5}\): always\n)"))) << errors[0];
  EXPECT_TRUE(std::regex_match(errors[1], std::regex(R"(\([0-9]{5}\): ERROR: bad 1\n)"))) << errors[1];
}

TEST_F(TraceChannelTest, WriterWaitsForRoomWhileTheViewerDrains) {
  // The writer waits for room for up to 100 ms per line, so a reader that
  // drains as soon as the ring is full gets every line. A test process held
  // up longer than that lets the line drop: then the attempt is repeated.
  std::vector<std::string> lines;
  for (int attempt = 0; attempt < 3; ++attempt) {
    Attach();  // starts afresh
    SetField(kPendingOffset, 900);
    ChildProcess child("lines", {"2"}, m_suffix);
    ASSERT_TRUE(AwaitField(kPendingOffset, 901));  // line 0; line 1 waits
    lines.clear();
    m_reader->TakeLines(lines);
    EXPECT_EQ(lines.back(), "line 0\n");
    ASSERT_EQ(child.Wait(), 0);
    lines.clear();
    m_reader->TakeLines(lines);
    if (m_reader->DroppedLines() == 0) break;
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"line 1\n", "always\n"}));
}

TEST_F(TraceChannelTest, WriterFacingAViewerThatNeverDrainsDropsAndCountsTheRest) {
  // 1000 "ho" lines and one of the empty category: 901 fit, 100 are dropped.
  ChildProcess child("lines", {"1000"}, m_suffix);
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(Field(kPendingOffset), 901);
  EXPECT_EQ(m_reader->DroppedLines(), 100);
  // Once the viewer takes lines, writers wait for room again.
  std::vector<std::string> lines;
  EXPECT_EQ(m_reader->TakeLines(lines), 901u);
  EXPECT_EQ(RunWriter("lines", {"1"}), (std::vector<std::string>{"line 0\n", "always\n"}));
  EXPECT_EQ(m_reader->DroppedLines(), 100);
}

// A viewer (child) is killed while it holds the trace mutex, or while it
// waits for the trace event, with tracing on and lines of its own pending.
// While it lives a second viewer is refused; once it is dead, writers of a
// new process finish (they find no viewer and switch tracing off), and a new
// viewer attaches to a clean channel whose mutex and event work.
TEST_F(TraceChannelTest, KilledViewerLeavesAChannelThatWritersAndTheNextViewerCanUse) {
  for (const char* how : {"holding-mutex", "waiting"}) {
    SCOPED_TRACE(how);
    m_reader.reset();  // the objects stay; the child becomes the viewer
    ChildProcess viewer("dead-viewer", {how}, m_suffix);
    {
      const ChildViewerChannel channel(m_suffix);
      ASSERT_TRUE(channel.Held());
      EXPECT_EQ(channel.Field(kPendingOffset), 5);

      DWORD liveViewer = 0;
      EXPECT_EQ(CQTMTraceReader::Attach(m_suffix, &liveViewer), nullptr);
      EXPECT_EQ(GetLastError(), ERROR_BUSY);
      EXPECT_EQ(liveViewer, static_cast<DWORD>(viewer.Pid()));

      Sleep(50);  // into its wait, most likely
      viewer.Kill();
      ChildProcess writer("lines", {"1000"}, m_suffix);
      EXPECT_EQ(writer.Wait(), 0);
      EXPECT_EQ(channel.view[kFlagOffset], 0);
    }

    Attach();
    EXPECT_EQ(Field(kPendingOffset), 0);
    EXPECT_EQ(Field(kWriteIndexOffset), 0);
    EXPECT_EQ(m_reader->DroppedLines(), 0);
    ChildProcess next("lines", {"1"}, m_suffix);
    EXPECT_TRUE(m_reader->WaitForLines(10000));
    EXPECT_EQ(next.Wait(), 0);
    std::vector<std::string> lines;
    m_reader->TakeLines(lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"line 0\n", "always\n"}));
  }
}

TEST_F(TraceChannelTest, WriterThatOutlivesItsViewerSwitchesTracingOffWhenTheRingFills) {
  m_reader.reset();
  ChildProcess viewer("dead-viewer", {"waiting"}, m_suffix);
  const ChildViewerChannel channel(m_suffix);
  ASSERT_TRUE(channel.Held());
  // Loads while the viewer lives (tracing stays on), writes once it is gone.
  ChildProcess writer("lines-once-viewer-gone", {"1000"}, m_suffix);
  Sleep(50);
  viewer.Kill();
  EXPECT_EQ(writer.Wait(), 0);
  EXPECT_EQ(channel.view[kFlagOffset], 0);
  EXPECT_EQ(channel.Field(kPendingOffset), 901);
  EXPECT_EQ(channel.Field(kDroppedOffset), 0);
}

// A library whose trace objects cannot be allocated still loads, with
// tracing off; one loaded before the viewer appeared never writes.
TEST_F(TraceChannelTest, LibraryLoadedWithoutMemoryOrBeforeTheViewerNeverWrites) {
  setenv(kFailLoadAllocationsVariable, "1", 1);
  ChildProcess child("lines", {"3"}, m_suffix);
  unsetenv(kFailLoadAllocationsVariable);
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(Field(kPendingOffset), 0);
  ChildProcess late("viewer-after-load", {}, m_suffix + "-late");
  EXPECT_EQ(late.Wait(), 0);
}

}  // namespace
