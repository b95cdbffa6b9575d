// TaskMemText.h: wide text in COM task memory, owned for one host call.
//
// TaskMemCopy copies a text into a task-memory buffer of (length + 1) wide
// characters to hand to the host, and frees it when it goes out of scope.
// TaskMemReceived takes a text the host returned in task memory and frees it
// when it goes out of scope. Neither is copyable; not shared between threads.
#pragma once

#include <string>

#include "Platform/Com.h"

class TaskMemCopy {
 public:
  // Copies `text` (not null); Get() is null when the allocation failed.
  explicit TaskMemCopy(const wchar_t* text);
  ~TaskMemCopy() { CoTaskMemFree(m_pText); }

  TaskMemCopy(const TaskMemCopy&) = delete;
  TaskMemCopy& operator=(const TaskMemCopy&) = delete;

  LPWSTR Get() const { return m_pText; }

 private:
  LPWSTR m_pText = nullptr;
};

class TaskMemReceived {
 public:
  TaskMemReceived() = default;
  ~TaskMemReceived() { CoTaskMemFree(m_pText); }

  TaskMemReceived(const TaskMemReceived&) = delete;
  TaskMemReceived& operator=(const TaskMemReceived&) = delete;

  // Out-argument for the host call; frees a text already held.
  LPWSTR* Put() {
    CoTaskMemFree(m_pText);
    m_pText = nullptr;
    return &m_pText;
  }
  LPWSTR Get() const { return m_pText; }
  // The text, empty when the host returned null.
  std::wstring ToString() const { return m_pText != nullptr ? std::wstring(m_pText) : std::wstring(); }

 private:
  LPWSTR m_pText = nullptr;
};
