// DriverModesSupport.h: what the driver-command and mode tests share.
//
// RunningComponent: a component with a host of its own, initialised by Start
// and uninitialised when the test is done with it, so each test ends with the
// host doubles' reference counts at zero (the doubles check that). Device
// messages a test hands to it must be declared before it: results the sink
// keeps hold references on them until the sink is cleared here.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "BaseComms/OneByOneCommunication.h"
#include "ComponentTestSupport.h"
#include "Support/DispatchTestAccess.h"

namespace drivermodestest {

class RunningComponent {
 public:
  explicit RunningComponent(const std::wstring& configurationText = L"LINE=1", bool oneByOne = false)
      : host(configurationText),
        component(oneByOne ? OneByOneCommunication::CreateInstance() : ParallelCommunication::CreateInstance()) {}
  ~RunningComponent() {
    component->UnInitialise();
    component.reset();
    host.sink.Clear();
  }
  RunningComponent(const RunningComponent&) = delete;
  RunningComponent& operator=(const RunningComponent&) = delete;

  void Start() { ASSERT_EQ(component->Initialise(&host.info, &host.sink, &host.protocol), S_OK); }
  ParallelCommunication* operator->() { return component.get(); }
  LONG Key() { return DispatchTestAccess::Key(*component); }
  DWORD RuntimeVersion() { return DispatchTestAccess::RuntimeVersion(*component); }

  LONG Execute(ITARVO_DeviceMessage* message, LONG* resultCode) {
    return component->RequestMessageService(message, resultCode);
  }

  // The data of a set-runtime-version request: 4 bytes not examined, the tag,
  // the count, the version.
  static std::vector<BYTE> SetRequest(BYTE major, BYTE minor, BYTE build, BYTE tagLow = 0xC9) {
    return {0x11, 0x22, 0x33, 0x44, tagLow, 0x02, 0x03, 0x00, major, minor, build};
  }

  componenttest::Host host;
  std::unique_ptr<ParallelCommunication> component;
};

}  // namespace drivermodestest
