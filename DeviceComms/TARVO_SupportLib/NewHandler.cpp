#include "TARVO_SupportLib/NewHandler.h"

#include <atomic>
#include <mutex>

#include "TARVO_SupportLib/TVO_Error.h"

namespace {

// Kept only so that callers can save and restore it with the handler.
std::atomic<int> g_newMode{0};

void ThrowMemoryAllocError() { throw TVO_MemoryAllocError(__FILE__, __LINE__); }

// The counted bracket's state.
struct Bracket {
  std::mutex lock;
  unsigned int open = 0;     // guarded by lock
  TVO_NewHandlerPair saved;  // guarded by lock: the host's pair while open > 0
};

Bracket& TheBracket() {
  static Bracket bracket;  // constructed on first use, never throws
  return bracket;
}

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

void OpenNewHandlerBracket() {
  Bracket& bracket = TheBracket();
  const std::lock_guard<std::mutex> guard(bracket.lock);
  if (bracket.open++ == 0) {
    bracket.saved = SetNewHandlerWithThrowError();
  } else {
    SetNewHandlerWithThrowError();  // in case a callee replaced it meanwhile
  }
}

void CloseNewHandlerBracket() {
  Bracket& bracket = TheBracket();
  const std::lock_guard<std::mutex> guard(bracket.lock);
  if (bracket.open == 0) return;  // unmatched: nothing to give back
  if (--bracket.open == 0) ResetNewHandler(bracket.saved);
}

void RestoreNewHandlerAfterCallout() {
  Bracket& bracket = TheBracket();
  const std::lock_guard<std::mutex> guard(bracket.lock);
  if (bracket.open != 0) SetNewHandlerWithThrowError();
}
