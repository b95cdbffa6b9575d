// The class table of the sample services module and its diagnostics entry.
#include "SampleServices/BlockReadService.h"
#include "SampleServices/ConcatenatingReadService.h"
#include "SampleServices/DelayedReadService.h"
#include "SampleServices/OneStepService.h"
#include "TARVO_SupportLib/PluginAbi.h"

using sample::BlockReadService;
using sample::ConcatenatingReadService;
using sample::DelayedReadService;
using sample::ReadService;
using sample::RejectingService;
using sample::StatusService;
using sample::WriteService;

BASECOMMS_PLUGIN_BEGIN
  BASECOMMS_PLUGIN_CLASS(IMessageService, ReadService, "OneStepService")
  BASECOMMS_PLUGIN_CLASS(IMessageService, WriteService, "OneStepService")
  BASECOMMS_PLUGIN_CLASS(IMessageService, StatusService, "OneStepService")
  BASECOMMS_PLUGIN_CLASS(IMessageService, RejectingService, "")
  BASECOMMS_PLUGIN_CLASS(IMessageService, BlockReadService, "SampleService")
  BASECOMMS_PLUGIN_CLASS(IMessageService, DelayedReadService, "ReadService")
  BASECOMMS_PLUGIN_CLASS(IMessageService, ConcatenatingReadService, "ReadService")
BASECOMMS_PLUGIN_END

// Live service instances of this module; tests look it up with dlsym to see
// that every service they were handed was destroyed.
extern "C" __attribute__((visibility("default"))) long SampleServicesLiveInstances() {
  return sample::SampleService::LiveInstances();
}

// The simulated line's answer: gives `message`, a protocol message that a
// service of this module sent, the received bytes. False when the message is
// not one of this module's. (The protocol interface has no way to set an
// answer; a real protocol layer fills its own message objects.)
extern "C" __attribute__((visibility("default"))) bool SampleServicesAnswer(ITARVO_ProtocolMessage* message,
                                                                            const BYTE* bytes, ULONG count) {
  auto* const sent = dynamic_cast<pluginkit::ProtocolMessage*>(message);
  if (sent == nullptr || (bytes == nullptr && count != 0)) return false;
  sent->SetReceiveData(std::vector<BYTE>(bytes, bytes + count));
  return true;
}
