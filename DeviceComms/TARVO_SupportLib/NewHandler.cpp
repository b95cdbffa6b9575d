#include "TARVO_SupportLib/NewHandler.h"

#include <atomic>

#include "TARVO_SupportLib/TVO_Error.h"

namespace {

// Kept only so that callers can save and restore it with the handler.
std::atomic<int> g_newMode{0};

void ThrowMemoryAllocError() { throw TVO_MemoryAllocError(__FILE__, __LINE__); }

}  // namespace

TVO_NewHandlerPair SetNewHandlerWithThrowError() {
  TVO_NewHandlerPair previous;
  previous.handler = std::set_new_handler(&ThrowMemoryAllocError);
  previous.newMode = g_newMode.exchange(1);
  return previous;
}

void ResetNewHandler(const TVO_NewHandlerPair& previous) {
  std::set_new_handler(previous.handler);
  g_newMode.store(previous.newMode);
}

TVO_NewHandlerPair QueryCurrentNewHandler() {
  TVO_NewHandlerPair current;
  current.handler = std::get_new_handler();
  current.newMode = g_newMode.load();
  return current;
}
