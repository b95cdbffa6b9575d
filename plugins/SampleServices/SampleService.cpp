#include "SampleServices/SampleService.h"

#include <atomic>
#include <utility>

namespace sample {

namespace {

std::atomic<long> g_liveInstances{0};

}  // namespace

SampleService::SampleService(const wchar_t* commandType, int priority)
    : MessageServiceBase(priority), m_commandType(commandType) {
  ++g_liveInstances;
}

SampleService::~SampleService() { --g_liveInstances; }

long SampleService::LiveInstances() { return g_liveInstances.load(); }

ITARVO_ProtocolMessage* SampleService::SendPayload(const std::vector<BYTE>& payload) {
  std::vector<BYTE> bytes = {static_cast<BYTE>(CommandNo() & 0xFF), static_cast<BYTE>((CommandNo() >> 8) & 0xFF)};
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  return Send(new pluginkit::ProtocolMessage(std::move(bytes), m_commandType));
}

}  // namespace sample
