// Dump lines, result names, and the dumps as they arrive in the channel
// (written in this process after the channel is reopened).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Interfaces/DeviceMessages.h"
#include "Interfaces/Protocol.h"
#include "Interfaces/QtmResults.h"
#include "Platform/Com.h"
#include "Support/HostDoubles.h"
#include "Trace/HexDump.h"
#include "Trace/MessageDump.h"
#include "Trace/QTMTrace.h"
#include "Trace/ResultNames.h"
#include "Trace/TraceChannelTesting.h"
#include "Trace/TraceLayout.h"
#include "Trace/TraceReader.h"

namespace {

using Lines = std::vector<std::string>;

std::vector<BYTE> Bytes(std::size_t count, BYTE first = 0x41) {
  std::vector<BYTE> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<BYTE>(first + i);
  return bytes;
}

// Sixteen bytes a line, a short last line padded, dots for what cannot be
// shown, the hex case of the dump, offsets of five digits past FFFF.
TEST(DumpLineTest, LinesOffsetsPaddingAndCase) {
  EXPECT_TRUE(QTMFormatDumpLines(Bytes(0).data(), 0, DumpDigits::kUpperCase).empty());
  EXPECT_EQ(QTMFormatDumpLines(Bytes(16).data(), 16, DumpDigits::kUpperCase),
            (Lines{"0000: 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50   : ABCDEFGHIJKLMNOP\n"}));
  const BYTE bytes[] = {0x00, 0x1F, 0x20, 0x7E, 0x7F, 0x80, 0xFF, 0xab};
  EXPECT_EQ(QTMFormatDumpLine(bytes, 8, 0, DumpDigits::kUpperCase),
            "0000: 00 1F 20 7E 7F 80 FF AB " + std::string(8 * 3, ' ') + "  : .. ~....\n");
  EXPECT_EQ(QTMFormatDumpLine(bytes, 8, 0, DumpDigits::kLowerCase),
            "0000: 00 1f 20 7e 7f 80 ff ab " + std::string(8 * 3, ' ') + "  : .. ~....\n");
  const std::vector<BYTE> many(0x10011, 0x30);
  const Lines lines = QTMFormatDumpLines(many.data(), many.size(), DumpDigits::kUpperCase);
  ASSERT_EQ(lines.size(), 0x1002u);
  EXPECT_EQ(lines[0xFFF].substr(0, 6), "FFF0: ");
  EXPECT_EQ(lines[0x1000].substr(0, 7), "10000: ");
  EXPECT_EQ(lines[0x1001], "10010: 30 " + std::string(15 * 3, ' ') + "  : 0\n");
}

// The composed line of a named result is checked through the channel below.
TEST(ResultNameTest, ComposesErrorBitCategoryAndCode) {
  EXPECT_EQ(QTMFormatResultLine(QTM_RESULT_S_FALSE), "   Result: QTM_SUCCESS QTM_C_CORE         QTM_S_FALSE\n");
  // Category 11 and code 37 have no names: those parts and the line end are left out.
  EXPECT_EQ(QTMFormatResultLine(static_cast<LONG>(0x8B25u)), "   Result: QTM_ERROR   ");
  EXPECT_EQ(QTMFormatResultLine(static_cast<LONG>(0x0A25u)), "   Result: QTM_SUCCESS QTM_C_DEVICE       ");
}

// --- The dumps through the channel -------------------------------------------

using doubles::FakeDeviceMessage;
using doubles::FakeProtocolMessage;

class ChannelDumpTest : public testing::Test {
 protected:
  void SetUp() override {
    m_reader = CQTMTraceReader::Attach(qtmtrace::TraceNameSuffix());
    ASSERT_NE(m_reader, nullptr);
    qtmtrace::ReopenChannelForTesting();
    m_reader->SetFilter("HO");
    m_reader->SetTracing(true);
    Taken();
    m_blocksBefore = CoTaskMemBlocksInUse();
  }
  void TearDown() override {
    EXPECT_EQ(CoTaskMemBlocksInUse(), m_blocksBefore);
    m_reader->SetTracing(false);
  }
  Lines Taken() {
    Lines lines;
    m_reader->TakeLines(lines);
    return lines;
  }

  std::unique_ptr<CQTMTraceReader> m_reader;
  LONG m_blocksBefore = 0;
};

TEST_F(ChannelDumpTest, BytesDumpOneLinePerSixteenAndADeviceMessageItsKeyAndDataOrNoData) {
  const std::vector<BYTE> bytes = Bytes(17);
  QTMTracePnPDevices(bytes.data(), 17);
  EXPECT_EQ(Taken(), QTMFormatDumpLines(bytes.data(), 17, DumpDigits::kUpperCase));
  QTMTracePnPDevices(bytes.data(), 0);
  EXPECT_TRUE(Taken().empty());

  FakeDeviceMessage message(L"476");
  QTMTracePnPDevices(&message);
  EXPECT_EQ(Taken(), (Lines{"MessageKey: 476\n", "No Data\n"}));
  message.data = {0x01, 0x41};
  QTMTracePnPDevices(&message);
  EXPECT_EQ(Taken(), (Lines{"MessageKey: 476\n", QTMFormatDumpLine(message.data.data(), 2, 0, DumpDigits::kUpperCase)}));
  message.keyResult = E_FAIL;
  QTMTracePnPDevices(&message);
  const Lines failed = Taken();
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].rfind("FAIL: pDevMsg->GetMessageKey, File(", 0), 0u);
  EXPECT_NE(failed[0].find("BaseComms/ServiceGenerator"), std::string::npos);
}

TEST_F(ChannelDumpTest, ProtocolSendSideTracesAddressAndCommandAndReceiveSideTheResponse) {
  FakeProtocolMessage message;
  message.commandType = L"Read";
  message.extraTimeout = 250;
  message.destination = {0x0A, 0x0B};
  message.requireResponse = -1;
  QTMTracePnPDevices(&message, true);
  EXPECT_EQ(Taken(), (Lines{"No Data\n", "Destination Address: \n",
                            QTMFormatDumpLine(message.destination.data(), 2, 0, DumpDigits::kUpperCase),
                            "Command Type(Read), Extra Timeout(250), RequireResponse(FALSE)\n"}));
  message.requireResponse = 1;
  message.destination.clear();
  QTMTracePnPDevices(&message, true);
  EXPECT_EQ(Taken(), (Lines{"No Data\n", "Command Type(Read), Extra Timeout(250), RequireResponse(TRUE)\n"}));
  message.destinationResult = E_FAIL;
  QTMTracePnPDevices(&message, true);
  const Lines failed = Taken();
  ASSERT_EQ(failed.size(), 2u);
  EXPECT_EQ(failed[1].rfind("FAIL: pProtocolMsg->GetDestinationAddress, File(", 0), 0u);

  QTMTracePnPDevices(&message, false);
  EXPECT_EQ(Taken(), (Lines{"No Data\n"}));
  message.receiveData = Bytes(3);
  QTMTracePnPDevices(&message, false);
  EXPECT_EQ(Taken(), (Lines{QTMFormatDumpLine(message.receiveData.data(), 3, 0, DumpDigits::kUpperCase)}));
}

TEST_F(ChannelDumpTest, HexDumpWritesHeaderAndLowerCaseLinesInItsCategory) {
  const BYTE bytes[] = {0xAB, 0x41};
  QTMTraceHexDumpRd(bytes, 2, true);
  EXPECT_TRUE(Taken().empty());  // "rd" is not in the filter
  m_reader->SetFilter("RD");
  QTMTraceHexDumpRd(bytes, 2, true);
  QTMTraceHexDumpRd(bytes, 0, false);
  EXPECT_EQ(Taken(), (Lines{"REQUEST\n", "0000: ab 41 " + std::string(14 * 3, ' ') + "  : .A\n", "RESPONSE\n"}));
  m_reader->SetFilter("ED");
  QTMTraceHexDump("ed", bytes, 1, false);  // no "ERROR: " marker in dumps
  EXPECT_EQ(Taken().front(), "RESPONSE\n");
  const std::vector<BYTE> many(0x1B, 0xCD);
  m_reader->SetFilter("RD");
  QTMTraceHexDump("rd", many.data(), 0x1B, true);
  EXPECT_EQ(Taken().back().substr(0, 9), "0010: cd ");
}

TEST_F(ChannelDumpTest, ResultTraceWritesTheNameLineThenAnEmptyLineInCategoryF) {
  m_reader->SetFilter("F");
  QTMTraceResult(QTM_RESULT_COMMS_FAILED, 1, 2);
  EXPECT_EQ(Taken(), (Lines{"   Result: QTM_ERROR   QTM_C_DEVICE       QTM_E_COMMS_FAILED\n", "\n"}));
  QTMTraceF("value %d\n", 7);
  EXPECT_EQ(Taken(), (Lines{"\n", "value 7\n"}));
}

}  // namespace
