// ComRef.h: owns one reference on a COM-style interface.
//
// Holds the reference that a host call handed out (Attach via Put()) and
// releases it exactly once, on Reset or destruction, on every way out of a
// scope, exceptions included. Not copyable; movable. Not thread-safe: one
// owner at a time.
#pragma once

#include <utility>

template <typename Interface>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { Reset(); }

  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ComRef(ComRef&& other) noexcept : m_pInterface(std::exchange(other.m_pInterface, nullptr)) {}
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) {
      Reset();
      m_pInterface = std::exchange(other.m_pInterface, nullptr);
    }
    return *this;
  }

  // Out-argument for a call that hands out one reference; drops any held one.
  Interface** Put() {
    Reset();
    return &m_pInterface;
  }
  // The same, for calls that take void** (QueryInterface).
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  Interface* Get() const { return m_pInterface; }
  Interface* operator->() const { return m_pInterface; }
  explicit operator bool() const { return m_pInterface != nullptr; }

  // Hands the reference to the caller.
  Interface* Detach() { return std::exchange(m_pInterface, nullptr); }

  void Reset() {
    if (Interface* held = std::exchange(m_pInterface, nullptr)) held->Release();
  }

 private:
  Interface* m_pInterface = nullptr;
};
