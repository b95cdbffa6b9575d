// ComponentTestSupport.h: what the component tests share.
//
// Host: the host doubles wired as a host wires them for one controller (a
// device configuration with an empty local service set, its device
// information, the result sink, the protocol layer and the device-result
// class). TraceCapture: the component's trace lines while it lives (tracing
// is off otherwise, so tests that do not look never fill the channel).
// WaitUntil: a bounded wait for something another thread does.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Support/HostDoubles.h"

namespace componenttest {

inline constexpr wchar_t kLocalServices[] = L"%Network%/Services/Services[@Name='Local']/Service";
inline constexpr wchar_t kReleaseVersionPath[] = L"%CPU%/DriverVersionInfo/DriverReleaseVersion";

struct Host {
  explicit Host(const std::wstring& configurationText = L"LINE=1") {
    config.configuration[L""] = configurationText;
    protocol.runtimeInformation = configurationText;  // Initialise writes it back unchanged
    config.nodeLists[kLocalServices] = &services;
    config.nodes[kReleaseVersionPath] = &releaseVersion;
    releaseVersion.text = L"1.2.3";
  }
  ITARVO_DeviceConfig* Config() { return &config; }

  doubles::DeviceResultClass resultClass;
  doubles::FakeConfigNodeList services;  // no services: enough for the generator
  doubles::FakeConfigNode releaseVersion;
  doubles::FakeDeviceConfig config;
  doubles::FakeDeviceInfo info{static_cast<ITARVO_DeviceConfig*>(&config)};
  doubles::FakeResultCallback sink;
  doubles::FakeProtocolComms protocol;
};

class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  // Every line taken so far.
  const std::vector<std::string>& Lines();
  // Whether a line taken so far contains `text`.
  bool Contains(const std::string& text);

 private:
  std::vector<std::string> m_lines;
};

// The results `sink` received, as device results of the fake class.
std::vector<doubles::FakeDeviceResult*> Received(doubles::FakeResultCallback& sink);

// Polls `condition` every millisecond for at most `milliseconds`.
bool WaitUntil(const std::function<bool()>& condition, unsigned milliseconds = 5000);

}  // namespace componenttest
