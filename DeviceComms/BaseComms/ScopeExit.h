// ScopeExit.h: runs an action when a scope is left, however it is left.
//
// For clean-up that has no owning object of its own (give back what a failed
// Initialise took, clear a flag after a callback). Not copyable or movable.
#pragma once

#include <utility>

template <typename Action>
class ScopeExit {
 public:
  explicit ScopeExit(Action action) : m_action(std::move(action)) {}
  ~ScopeExit() { m_action(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  Action m_action;
};
