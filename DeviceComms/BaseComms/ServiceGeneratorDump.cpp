// Message dumps of byte buffers, device messages and protocol messages into
// the trace channel (Trace/MessageDump.h). They live beside the service
// generator; their FAIL lines name this source file.
#include <string>

#include "Interfaces/DeviceMessages.h"
#include "Interfaces/Protocol.h"
#include "Platform/Com.h"
#include "Platform/Text.h"
#include "Trace/HexDump.h"
#include "Trace/MessageDump.h"
#include "Trace/QTMTrace.h"

namespace {

// Frees a task-memory block on every way out.
class TaskMemory {
 public:
  explicit TaskMemory(void* block) : m_pBlock(block) {}
  ~TaskMemory() { CoTaskMemFree(m_pBlock); }
  TaskMemory(const TaskMemory&) = delete;
  TaskMemory& operator=(const TaskMemory&) = delete;

 private:
  void* m_pBlock;
};

// "No Data" for an empty buffer, else its dump lines.
void DumpOrNoData(const BYTE* bytes, ULONG length) {
  if (length == 0) {
    QTMTraceDevice("No Data\n");
  } else {
    QTMTracePnPDevices(bytes, length);
  }
}

}  // namespace

void QTMTracePnPDevices(const BYTE* bytes, ULONG length) {
  // The lines are built first, tracing on or off (their output is what the
  // channel decides about).
  std::vector<std::string> lines;
  try {
    lines = QTMFormatDumpLines(bytes, length, DumpDigits::kUpperCase);
  } catch (...) {
    return;  // out of memory: no dump
  }
  for (const std::string& line : lines) QTMTraceDevice("%s", line.c_str());
}

void QTMTracePnPDevices(ITARVO_DeviceMessage* message) {
  if (message == nullptr) return;
  LPWSTR key = nullptr;
  if (FAILED(message->GetMessageKey(&key))) {
    QTMTraceDevice("FAIL: pDevMsg->GetMessageKey, File(%s), Line(%d)\n", __FILE__, __LINE__);
    return;
  }
  {
    TaskMemory keyMemory(key);
    try {
      QTMTraceDevice("MessageKey: %s\n", key != nullptr ? WideToAnsi(key).c_str() : "");
    } catch (...) {
      // Out of memory converting the key: the key line is left out.
    }
  }
  ULONG length = 0;
  BYTE* bytes = nullptr;
  if (FAILED(message->GetData(&length, &bytes))) {
    QTMTraceDevice("FAIL: pDevMsg->GetData, File(%s), Line(%d)\n", __FILE__, __LINE__);
    return;
  }
  TaskMemory data(bytes);
  DumpOrNoData(bytes, length);
}

void QTMTracePnPDevices(ITARVO_ProtocolMessage* message, bool send) {
  if (message == nullptr) return;
  ULONG length = 0;
  BYTE* bytes = nullptr;
  if (!send) {
    if (FAILED(message->GetReceiveData(&length, &bytes))) {
      QTMTraceDevice("FAIL: pProtocolMsg->GetReceiveData, File(%s), Line(%d)\n", __FILE__, __LINE__);
      return;
    }
    TaskMemory data(bytes);
    DumpOrNoData(bytes, length);
    return;
  }
  if (FAILED(message->GetSendData(&length, &bytes))) {
    QTMTraceDevice("FAIL: pProtocolMsg->GetSendData, File(%s), Line(%d)\n", __FILE__, __LINE__);
    return;
  }
  {
    TaskMemory data(bytes);
    DumpOrNoData(bytes, length);
  }
  length = 0;
  bytes = nullptr;
  if (FAILED(message->GetDestinationAddress(&length, &bytes))) {
    QTMTraceDevice("FAIL: pProtocolMsg->GetDestinationAddress, File(%s), Line(%d)\n", __FILE__, __LINE__);
    return;
  }
  {
    TaskMemory address(bytes);
    if (length != 0) {
      QTMTraceDevice("Destination Address: \n");
      QTMTracePnPDevices(bytes, length);
    }
  }
  LPWSTR commandType = nullptr;
  if (FAILED(message->GetCommandType(&commandType))) {
    QTMTraceDevice("FAIL: pProtocolMsg->GetCommandType, File(%s), Line(%d)\n", __FILE__, __LINE__);
    return;
  }
  TaskMemory commandTypeMemory(commandType);
  // Their results are ignored: the values stay as initialised when a call fails.
  LONG extraTimeout = 0;
  LONG requireResponse = 0;
  message->GetExtraTimeout(&extraTimeout);
  message->GetRequireResponse(&requireResponse);
  try {
    QTMTraceDevice("Command Type(%s), Extra Timeout(%d), RequireResponse(%s)\n",
                   commandType != nullptr ? WideToAnsi(commandType).c_str() : "", extraTimeout,
                   requireResponse == 1 ? "TRUE" : "FALSE");
  } catch (...) {
    // Out of memory converting the command type: the line is left out.
  }
}
