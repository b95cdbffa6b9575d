#include "BaseComms/NameTrace.h"

#include <string>

#include "Config/ComRef.h"
#include "Config/TaskMemText.h"
#include "Platform/ComResults.h"
#include "Platform/Text.h"
#include "Trace/QTMTrace.h"
#include "Trace/ResultNames.h"
#include "Trace/TraceAddress.h"

namespace nametrace {

namespace {

// Host texts are cut so that the line stays within the channel's 512
// characters (a longer line would be dropped whole).
constexpr int kTextLength = 240;

}  // namespace

// The lines are diagnostics: a text that cannot be had (out of memory, a host
// call that fails) gives a shorter line or none, never an error.
void ComponentLine(const ParallelCommunication* component, ITARVO_DeviceConfig* deviceConfig, LONG key, LONG limit) {
  try {
    std::string configuration;
    TaskMemReceived text;
    if (deviceConfig != nullptr && SUCCEEDED(deviceConfig->GetConfiguration(L"", text.Put()))) {
      configuration = WideToAnsi(text.ToString());
    }
    QTMTraceDevice("Component: Component(%016llX), Configuration(%.*s), Target(%d), ParallelLimit(%d)\n",
                   TraceFullAddress(component), kTextLength, configuration.c_str(), static_cast<int>(key),
                   static_cast<int>(limit));
  } catch (...) {
  }
}

void RequestLine(const ParallelCommunication* component, ITARVO_DeviceMessage* message,
                 const IMessageService* service) {
  try {
    std::string key;
    TaskMemReceived text;
    if (message != nullptr && SUCCEEDED(message->GetMessageKey(text.Put()))) key = WideToAnsi(text.ToString());
    QTMTraceDevice(
        "Request: Component(%016llX), DeviceMessage(%016llX), Key(%.*s), Command(%d), Service(%016llX)\n",
        TraceFullAddress(component), TraceFullAddress(message), kTextLength, key.c_str(),
        _wtoi(text.Get() != nullptr ? text.Get() : L""), TraceFullAddress(service));
  } catch (...) {
  }
}

void ResultLine(const ParallelCommunication* component, const ITARVO_DeviceMessage* message, LONG complete,
                LONG code) {
  try {
    QTMTraceDevice(
        "Result: Component(%016llX), DeviceMessage(%016llX), Complete(%d), Code(%08X), Name(%s)\n",
        TraceFullAddress(component), TraceFullAddress(message), static_cast<int>(complete),
        static_cast<unsigned int>(code), QTMResultName(code).c_str());
  } catch (...) {
  }
}

void RefusedLine(const ParallelCommunication* component, const ITARVO_DeviceMessage* message, LONG batchCount,
                 HRESULT returned, LONG code) {
  try {
    const char* returnName = HResultName(returned);
    const std::string name = QTMResultName(code);
    if (batchCount < 0) {
      QTMTraceDevice("Refused: Reason(Request), Component(%016llX), DeviceMessage(%016llX), Return(%08X), "
                     "ReturnName(%s), Code(%08X), Name(%s)\n",
                     TraceFullAddress(component), TraceFullAddress(message), static_cast<unsigned int>(returned),
                     returnName != nullptr ? returnName : "?", static_cast<unsigned int>(code), name.c_str());
    } else {
      QTMTraceDevice("Refused: Reason(Batch), Component(%016llX), Count(%d), Return(%08X), ReturnName(%s), "
                     "Code(%08X), Name(%s)\n",
                     TraceFullAddress(component), static_cast<int>(batchCount), static_cast<unsigned int>(returned),
                     returnName != nullptr ? returnName : "?", static_cast<unsigned int>(code), name.c_str());
    }
  } catch (...) {
  }
}

void ResultLines(const ParallelCommunication* component, const std::vector<ITARVO_DeviceResult*>& results) {
  for (ITARVO_DeviceResult* result : results) {
    LONG complete = 0;
    LONG code = 0;
    ComRef<ITARVO_DeviceMessage> message;
    if (FAILED(result->GetDeviceMessage(message.Put()))) message.Detach();
    result->GetComplete(&complete);
    result->GetErrorCode(&code);
    ResultLine(component, message.Get(), complete, code);
  }
}

}  // namespace nametrace
