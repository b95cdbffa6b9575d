#include "SimulatedLine.h"

#include <dlfcn.h>

#include <vector>

#include "Interfaces/ProtocolResponse.h"

namespace simline {

SimulatedLine* SimulatedLine::Create(Settings settings) { return new SimulatedLine(std::move(settings)); }

SimulatedLine::~SimulatedLine() { Stop(); }

void SimulatedLine::Start(ParallelCommunication* component) {
  const std::lock_guard<std::mutex> guard(m_lock);
  if (m_running || m_worker.joinable()) return;
  m_pComponent = component;
  m_running = true;
  m_worker = std::thread([this] { Run(); });
}

void SimulatedLine::Stop() {
  std::deque<Queued> dropped;
  {
    const std::lock_guard<std::mutex> guard(m_lock);
    m_running = false;
    dropped.swap(m_queue);
  }
  m_queued.notify_all();
  if (m_worker.joinable()) m_worker.join();
  for (const Queued& entry : dropped) entry.pMessage->Release();
}

HRESULT SimulatedLine::Send(ITARVO_ProtocolMessage* message) {
  if (message == nullptr) return E_POINTER;
  {
    const std::lock_guard<std::mutex> guard(m_lock);
    ++m_sent;
    if (!m_running || (m_settings.refuseEvery != 0 && m_sent % m_settings.refuseEvery == 0)) {
      ++m_refused;
      return E_FAIL;
    }
    message->AddRef();
    m_queue.push_back({message, std::chrono::steady_clock::now() + m_settings.delay});
  }
  m_queued.notify_one();
  return S_OK;
}

ULONG SimulatedLine::Answered() const {
  const std::lock_guard<std::mutex> guard(m_lock);
  return m_answered;
}

ULONG SimulatedLine::Refused() const {
  const std::lock_guard<std::mutex> guard(m_lock);
  return m_refused;
}

void SimulatedLine::Run() {
  for (;;) {
    ITARVO_ProtocolMessage* message = nullptr;
    {
      std::unique_lock<std::mutex> guard(m_lock);
      m_queued.wait(guard, [this] { return !m_running || !m_queue.empty(); });
      if (!m_running) return;
      const auto due = m_queue.front().due;
      if (m_queued.wait_until(guard, due, [this] { return !m_running; })) return;
      message = m_queue.front().pMessage;
      m_queue.pop_front();
      ++m_answered;
    }
    Answer(message);
    message->Release();
  }
}

void SimulatedLine::Answer(ITARVO_ProtocolMessage* message) {
  LONG required = 1;
  if (FAILED(message->GetRequireResponse(&required)) || required == 0) return;
  ULONG count = 0;
  BYTE* bytes = nullptr;
  std::vector<BYTE> answer;
  if (SUCCEEDED(message->GetSendData(&count, &bytes))) answer.assign(bytes, bytes + count);
  CoTaskMemFree(bytes);
  if (answer.empty()) answer.push_back(0);
  for (BYTE& b : answer) b = static_cast<BYTE>(~b);
  ITARVO_ProtocolResponse* response = nullptr;
  if (SUCCEEDED(message->QueryInterface(IID_ITARVO_ProtocolResponse, reinterpret_cast<void**>(&response))) &&
      response != nullptr) {
    response->SetResponse(S_OK, static_cast<ULONG>(answer.size()), answer.data());
    response->Release();
  } else if (const AnswerFunction answerFunction = FindAnswerFunction(); answerFunction != nullptr) {
    answerFunction(message, answer.data(), static_cast<ULONG>(answer.size()));
  }
  m_pComponent->Receive(message);
}

SimulatedLine::AnswerFunction SimulatedLine::FindAnswerFunction() {
  if (m_answer != nullptr) return m_answer;
  // The module is loaded by the component's class loader and never unloaded,
  // so the address stays valid after the handle is given back.
  void* const module = dlopen(m_settings.answerModule.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (module == nullptr) return nullptr;
  m_answer = reinterpret_cast<AnswerFunction>(dlsym(module, "SampleServicesAnswer"));
  dlclose(module);
  return m_answer;
}

}  // namespace simline
