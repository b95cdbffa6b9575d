// A plug-in module whose classes cannot be constructed, for the tests of how
// the class loader reports a factory's failure: "ThrowsBadAlloc" runs out of
// memory with no new-handler in force, "ExhaustsMemory" as `new` does with the
// process's new-handler (a component's throws TVO_MemoryAllocError, which
// this module cannot name), "ThrowsOther" fails for another reason.
#include <new>
#include <stdexcept>

#include "Interfaces/IMessageService.h"
#include "TARVO_SupportLib/PluginAbi.h"

namespace {

enum class Failure { kBadAlloc, kExhausted, kOther };

template <Failure kFailure>
class Unconstructible final : public IMessageService {
 public:
  Unconstructible() {
    if constexpr (kFailure == Failure::kExhausted) {
      if (std::new_handler handler = std::get_new_handler()) handler();
    }
    if constexpr (kFailure == Failure::kOther) throw std::runtime_error("constructor failed");
    throw std::bad_alloc();
  }

  bool InitialiseService(ITARVO_DeviceMessage*, ITARVO_DeviceConfig*) override { return false; }
  ITARVO_DeviceResult* CancelDeviceMessage(ITARVO_DeviceMessage*) override { return nullptr; }
  void GetDeviceMessages(std::list<const ITARVO_DeviceMessage*>&) override {}
  bool IsFinished() override { return true; }
  bool HasDeviceMessage(const ITARVO_DeviceMessage*) override { return false; }
  bool CanConcatenate() override { return false; }
  bool ConcatenateService(std::list<ITARVO_DeviceResult*>&, IMessageService*) override { return false; }
  ITARVO_ProtocolMessage* CreateProtocolMessage(std::list<ITARVO_DeviceResult*>&, bool*, bool*) override {
    return nullptr;
  }
  bool ProcessResponse(std::list<ITARVO_DeviceResult*>&, bool&, bool&, ITARVO_ProtocolMessage*) override {
    return false;
  }
  bool IsOwnProtocolMessage(ITARVO_ProtocolMessage*) override { return false; }
  bool NeedsTimeWatch() override { return false; }
  bool IsTimeUp(DWORD) override { return true; }
  bool IsForbiddenOnLocked() override { return false; }
  int GetPriority() override { return 0; }
};

using ThrowsBadAlloc = Unconstructible<Failure::kBadAlloc>;
using ExhaustsMemory = Unconstructible<Failure::kExhausted>;
using ThrowsOther = Unconstructible<Failure::kOther>;

}  // namespace

BASECOMMS_PLUGIN_BEGIN
  BASECOMMS_PLUGIN_CLASS(IMessageService, ThrowsBadAlloc, "")
  BASECOMMS_PLUGIN_CLASS(IMessageService, ExhaustsMemory, "")
  BASECOMMS_PLUGIN_CLASS(IMessageService, ThrowsOther, "")
BASECOMMS_PLUGIN_END
