#include "Support/FakeMessageService.h"

#include <gtest/gtest.h>

#include <mutex>

namespace doubles {
namespace {

// Addresses of the fakes alive now. Looking `this` up before touching any
// member lets a call on a deleted fake fail the test instead of reading
// freed memory (as far as the call itself got there).
std::mutex g_liveLock;
std::set<const FakeMessageService*> g_live;

}  // namespace

int ServiceProbe::TotalCalls() const {
  int total = 0;
  for (const auto& count : calls) total += count.load();
  return total;
}

FakeMessageService::FakeMessageService() : m_probe(std::make_shared<ServiceProbe>()) {
  std::lock_guard<std::mutex> hold(g_liveLock);
  g_live.insert(this);
}

FakeMessageService::~FakeMessageService() {
  {
    std::lock_guard<std::mutex> hold(g_liveLock);
    EXPECT_EQ(g_live.erase(this), 1u) << "message service deleted twice";
  }
  ++m_probe->deletions;
}

int FakeMessageService::LiveCount() {
  std::lock_guard<std::mutex> hold(g_liveLock);
  return static_cast<int>(g_live.size());
}

void FakeMessageService::Record(ServiceProbe::Call call) const {
  {
    std::lock_guard<std::mutex> hold(g_liveLock);
    if (g_live.count(this) == 0) {
      ADD_FAILURE() << "message service called after its deletion (call " << call << ")";
      return;
    }
  }
  EXPECT_FALSE(m_probe->callsForbidden.load()) << "message service called although it may be gone (call " << call
                                               << ")";
  ++m_probe->calls[call];
}

}  // namespace doubles
