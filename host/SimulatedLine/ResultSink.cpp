#include "ResultSink.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "HostDeviceResult.h"
#include "ResultCodeText.h"

namespace simline {

namespace {

std::mutex g_printLock;  // keeps lines of concurrent results apart

std::string KeyOf(ITARVO_DeviceMessage* message) {
  LPWSTR key = nullptr;
  if (message == nullptr || FAILED(message->GetMessageKey(&key)) || key == nullptr) return "?";
  std::string text;
  for (const wchar_t* c = key; *c != L'\0'; ++c) text.push_back(static_cast<char>(*c));
  CoTaskMemFree(key);
  return text;
}

std::string Hex(const std::vector<BYTE>& bytes) {
  std::string text;
  char digits[4];
  for (BYTE b : bytes) {
    std::snprintf(digits, sizeof digits, " %02X", b);
    text += digits;
  }
  return text.empty() ? " -" : text;
}

}  // namespace

ResultSink* ResultSink::Create(std::string name) { return new ResultSink(std::move(name)); }

HRESULT ResultSink::ReceiveDeviceResult(ITARVO_DeviceResult* result) {
  if (result == nullptr) return E_POINTER;
  Take(result);
  return S_OK;
}

HRESULT ResultSink::ReceiveDeviceResults(LONG count, ITARVO_DeviceResult** results) {
  if (count < 0 || (count > 0 && results == nullptr)) return E_POINTER;
  for (LONG i = 0; i < count; ++i) {
    if (results[i] != nullptr) Take(results[i]);
  }
  return S_OK;
}

void ResultSink::Take(ITARVO_DeviceResult* result) {
  LONG code = 0;
  LONG complete = 0;
  ITARVO_DeviceMessage* message = nullptr;
  result->GetErrorCode(&code);
  result->GetComplete(&complete);
  result->GetDeviceMessage(&message);
  const std::unique_ptr<ITARVO_DeviceMessage, hostcom::ComReleaser<ITARVO_DeviceMessage>> held(message);
  // Results come from CoCreateInstance, so they are this host's own class.
  const auto* const own = dynamic_cast<const HostDeviceResult*>(result);
  {
    const std::lock_guard<std::mutex> guard(g_printLock);
    std::printf("  %s  key %-4s code %s  complete %d  data%s\n", m_name.c_str(), KeyOf(message).c_str(),
                hostcom::ResultCodeText(code).c_str(), static_cast<int>(complete), own ? Hex(own->Data()).c_str() : " ?");
    std::fflush(stdout);
  }
  const std::lock_guard<std::mutex> guard(m_lock);
  if (code < 0) ++m_failed;
  if (complete != 0) ++m_completed[message];
  m_changed.notify_all();
}

int ResultSink::Completed(const ITARVO_DeviceMessage* message) const {
  const std::lock_guard<std::mutex> guard(m_lock);
  const auto found = m_completed.find(message);
  return found == m_completed.end() ? 0 : found->second;
}

bool ResultSink::AllCompleteLocked(const std::vector<ITARVO_DeviceMessage*>& messages) const {
  return std::all_of(messages.begin(), messages.end(), [this](const ITARVO_DeviceMessage* message) {
    const auto found = m_completed.find(message);
    return found != m_completed.end() && found->second > 0;
  });
}

bool ResultSink::WaitForAll(const std::vector<ITARVO_DeviceMessage*>& messages,
                            std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> guard(m_lock);
  return m_changed.wait_for(guard, timeout, [&] { return AllCompleteLocked(messages); });
}

int ResultSink::Failed() const {
  const std::lock_guard<std::mutex> guard(m_lock);
  return m_failed;
}

}  // namespace simline
