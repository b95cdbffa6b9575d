// The viewer's model of a recorded trace: the summary's figures per target
// and the timeline picture (well-formed, one lane per target and component,
// one bar per request).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "Timeline.h"
#include "TraceModel.h"

namespace {

// A known run as the viewer records it: target 0 with components ...A1 and
// ...B2 (limit 2), target 1 with ...C3 (limit 1). Four requests on target 0
// (one waits for the parallel limit, one for its turn, one ends in an
// error); on target 1 one finished request, one that waits for the
// one-by-one hold and is still on the line at the end, and one refused by
// exclusive mode (an error).
const char kRecorded[] = R"(10:00:00.000 Component: Component(00000000000000A1), Configuration(LINE=1;ADDR=1), Target(0), ParallelLimit(2)
10:00:00.000 Component: Component(00000000000000B2), Configuration(LINE=1;ADDR=2), Target(0), ParallelLimit(2)
10:00:00.000 Component: Component(00000000000000C3), Configuration(LINE=2;ADDR=1), Target(1), ParallelLimit(1)
10:00:00.000 ParallelCommunication::RequestMessageService(), Line(91)
10:00:00.000 Request: Component(00000000000000A1), DeviceMessage(0000000000000D01), Key(5), Command(5), Service(0000000000000501)
10:00:00.000 Request: Component(00000000000000C3), DeviceMessage(0000000000000D05), Key(5), Command(5), Service(0000000000000505)
10:00:00.010 Request: Component(00000000000000A1), DeviceMessage(0000000000000D02), Key(5), Command(5), Service(0000000000000502)
10:00:00.010 Request: Component(00000000000000C3), DeviceMessage(0000000000000D06), Key(8), Command(8), Service(0000000000000506)
10:00:00.010 Wait: Reason(OneByOneHold), Component(00000000000000C3), Service(0000000000000506), Message(0000000000000F06), Target(1), HolderComponent(00000000000000C3), HolderService(0000000000000505)
10:00:00.020 Request: Component(00000000000000A1), DeviceMessage(0000000000000D03), Key(6), Command(6), Service(0000000000000503)
10:00:00.020 Wait: Reason(ParallelLimit), Component(00000000000000A1), Service(0000000000000503), Message(0000000000000F03), Target(0), InFlight(2), Limit(2)
10:00:00.030 Request: Component(00000000000000B2), DeviceMessage(0000000000000D04), Key(7), Command(7), Service(0000000000000504)
10:00:00.030 Wait: Reason(TurnOrder), Component(00000000000000B2), Service(0000000000000504), Message(0000000000000F04), Target(0), TurnsAhead(1)
10:00:00.035 Request: Component(00000000000000C3), DeviceMessage(0000000000000D07), Key(5), Command(5), Service(0000000000000507)
10:00:00.035 Refused: Reason(ExclusiveMode), Component(00000000000000C3), Service(0000000000000507), Target(1), HolderComponent(00000000000000D4)
10:00:00.035 Refused: Reason(Request), Component(00000000000000C3), DeviceMessage(0000000000000D07), Return(80004005), ReturnName(E_FAIL), Code(C0048812), Name(QTM_ERROR QTM_C_MANAGER QTM_E_LOCKED)
10:00:00.040 Result: Component(00000000000000C3), DeviceMessage(0000000000000D05), Complete(1), Code(00000000), Name(QTM_SUCCESS QTM_C_CORE QTM_S_OK)
10:00:00.040 Leave: Queue(Waiting), Why(Sent), Component(00000000000000C3), Service(0000000000000506), Message(0000000000000F06), Target(1)
10:00:00.045 Result: Component(00000000000000A1), DeviceMessage(0000000000000D01), Complete(0), Code(00000000), Name(QTM_SUCCESS QTM_C_CORE QTM_S_OK)
10:00:00.050 Result: Component(00000000000000A1), DeviceMessage(0000000000000D01), Complete(1), Code(00000000), Name(QTM_SUCCESS QTM_C_CORE QTM_S_OK)
10:00:00.050 Leave: Queue(Waiting), Why(Sent), Component(00000000000000A1), Service(0000000000000503), Message(0000000000000F03), Target(0)
10:00:00.060 Result: Component(00000000000000A1), DeviceMessage(0000000000000D02), Complete(1), Code(00000000), Name(QTM_SUCCESS QTM_C_CORE QTM_S_OK)
10:00:00.060 Leave: Queue(Waiting), Why(Sent), Component(00000000000000B2), Service(0000000000000504), Message(0000000000000F04), Target(0)
10:00:00.100 Result: Component(00000000000000B2), DeviceMessage(0000000000000D04), Complete(1), Code(00000000), Name(QTM_SUCCESS QTM_C_CORE QTM_S_OK)
10:00:00.120 Result: Component(00000000000000A1), DeviceMessage(0000000000000D03), Complete(1), Code(C0048A1B), Name(QTM_ERROR QTM_C_DEVICE QTM_E_COMMS_FAILED)
)";

TraceModel Recorded() {
  TraceModel model;
  std::istringstream input(kRecorded);
  for (std::string line; std::getline(input, line);) model.AddLine(line);
  return model;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Every element opened is closed in order (declarations and comments aside).
bool WellFormed(const std::string& text) {
  std::vector<std::string> open;
  for (std::size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
    const std::size_t end = text.find('>', at);
    if (end == std::string::npos) return false;
    const std::string tag = text.substr(at + 1, end - at - 1);
    if (tag.empty() || tag[0] == '?' || tag[0] == '!' || tag.back() == '/') continue;
    const std::string name = tag.substr(tag[0] == '/' ? 1 : 0, tag.find_first_of(" \n") - (tag[0] == '/' ? 1 : 0));
    if (tag[0] != '/') {
      open.push_back(name);
    } else if (open.empty() || open.back() != name) {
      return false;
    } else {
      open.pop_back();
    }
  }
  return open.empty();
}

// The summary counts per target and names the holders; the timeline has one
// lane per target and component and one bar per request.
TEST(TraceViewerModelTest, SummaryAndTimelineOfAKnownRun) {
  const TraceModel model = Recorded();
  EXPECT_EQ(model.SummaryTable(),
            "target 0: components 2, in flight 0/2, requests 4 (33.3/s), latency p50 70 ms p99 100 ms\n"
            "  parked now: -; waits: ParallelLimit=1 TurnOrder=1\n"
            "  one-by-one holder: -; exclusive holder: -; refused: -\n"
            "  errors: QTM_ERROR QTM_C_DEVICE QTM_E_COMMS_FAILED=1\n"
            "target 1: components 1, in flight 1/1, requests 3 (25.0/s), latency p50 40 ms p99 40 ms\n"
            "  parked now: -; waits: OneByOneHold=1\n"
            "  one-by-one holder: 0000C3/000505; exclusive holder: 0000D4; refused: ExclusiveMode=1\n"
            "  errors: QTM_ERROR QTM_C_MANAGER QTM_E_LOCKED=1\n");
  for (const bool html : {false, true}) {
    const std::string picture = RenderTimeline(model, html);
    EXPECT_TRUE(WellFormed(picture)) << picture;
    EXPECT_EQ(Count(picture, "<g class=\"lane\""), 3u);
    EXPECT_EQ(Count(picture, "class=\"bar\""), 7u);
    EXPECT_EQ(Count(picture, "class=\"wait\""), 3u);
    EXPECT_EQ(Count(picture, "stroke=\"#d62828\""), 3u) << "the two error bars and the legend";
    EXPECT_EQ(Count(picture, "http"), 1u) << "only the SVG namespace; nothing is fetched";
    EXPECT_EQ(picture.rfind(html ? "<!DOCTYPE html>" : "<?xml", 0), 0u);
  }
}

}  // namespace
