#include "ControllerRun.h"

#include <cstdio>
#include <functional>

#include "DemoDeviceMessage.h"
#include "ModbusTcp/ModbusProtocolComms.h"
#include "RequestPlan.h"
#include "ResultCodeText.h"
#include "SimulatedLine/HostDeviceInfo.h"
#include "SimulatedLine/ResultSink.h"
#include "SimulatedLine/SimulatedLine.h"
#include "XmlConfig/XmlDeviceConfig.h"

namespace demo {

namespace {

template <typename T>
using ComHolder = std::unique_ptr<T, hostcom::ComReleaser<T>>;

// The requests made of one component, each message held until the end.
class Requests {
 public:
  Requests(ParallelCommunication& component, const std::string& name) : m_component(component), m_name(name) {}

  // The message when the component accepted it, else null.
  ITARVO_DeviceMessage* Make(const PlannedRequest& request) {
    ComHolder<ITARVO_DeviceMessage> message(DemoDeviceMessage::Create(request.command, request.data));
    LONG code = 0;
    const HRESULT hr = m_component.RequestMessageService(message.get(), &code);
    ITARVO_DeviceMessage* const made = message.get();
    m_all.push_back(std::move(message));
    if (FAILED(hr)) {
      std::printf("  %s  key %-4d refused: %s, code %s\n", m_name.c_str(), request.command,
                  hostcom::ResultCodeText(hr).c_str(), hostcom::ResultCodeText(code).c_str());
      // No service could be made for it: say why (module, class, loader).
      if (hr == E_NOTIMPL) std::printf("    why: %s\n", BaseCommsLastLoadError(&m_component).c_str());
      ++m_refused;
      return nullptr;
    }
    m_accepted.push_back(made);
    return made;
  }
  const std::vector<ITARVO_DeviceMessage*>& Accepted() const { return m_accepted; }
  std::size_t Refused() const { return m_refused; }

 private:
  ParallelCommunication& m_component;
  const std::string& m_name;
  std::vector<ComHolder<ITARVO_DeviceMessage>> m_all;
  std::vector<ITARVO_DeviceMessage*> m_accepted;  // held through m_all
  std::size_t m_refused = 0;
};

bool Served(ParallelCommunication& component, int command) {
  TARVO_ServiceInformation information{};
  return SUCCEEDED(component.GetServiceInformation(std::to_wstring(command).c_str(), &information)) &&
         information.supported != 0;
}

void MakeRequests(ParallelCommunication& component, ITARVO_DeviceConfig* config, const RunSettings& settings,
                  const std::string& name, bool modbus, Requests& requests) {
  const auto plan = modbus ? ModbusRequestsFor : RequestsFor;
  const PlannedRequest cancelledRequest = modbus ? ModbusCancelledRequest() : CancelledRequest();
  requests.Make({kSetRuntimeVersion, SetRuntimeVersionData(config)});
  requests.Make({kGetDriverVersion, {}});
  bool delayedServed = false;
  for (unsigned round = 0; round < settings.repeat; ++round) {
    for (int command : settings.commands) {
      if (!Served(component, command)) continue;
      for (const PlannedRequest& request : plan(command)) requests.Make(request);
      delayedServed = delayedServed || command == cancelledRequest.command;
    }
  }
  if (delayedServed) {
    ITARVO_DeviceMessage* const cancelled = requests.Make(cancelledRequest);
    if (cancelled == nullptr) return;
    const HRESULT hr = component.CancelMessageService(cancelled);
    std::printf("  %s  key %-4d cancelled: 0x%08X\n", name.c_str(), cancelledRequest.command, static_cast<unsigned>(hr));
  }
}

// The controller's endpoint, with the server and unit of the settings in
// place of the configured ones; false with `error` when either is malformed.
bool ModbusEndpointOf(const hostconfig::ControllerConfig& controller, const RunSettings& settings,
                      modbustcp::ModbusEndpoint& endpoint, std::string& error) {
  if (!modbustcp::ParseModbusUrl(controller.address, endpoint, error)) return false;
  if (settings.connect.empty() && settings.unit < 0) return true;
  const modbustcp::ModbusEndpoint configured = endpoint;
  const std::string url = "modbus-tcp://" + (settings.connect.empty() ? configured.Line().substr(13) : settings.connect) +
                          "?unit=" + std::to_string(settings.unit >= 0 ? settings.unit : configured.unit) +
                          "&timeout=" + std::to_string(configured.timeout.count()) +
                          "&backoff=" + std::to_string(configured.backoff.count()) +
                          "&backoff-max=" + std::to_string(configured.backoffMax.count());
  if (modbustcp::ParseModbusUrl(url, endpoint, error)) return true;
  error = "--connect " + settings.connect + " / --unit " + std::to_string(settings.unit) + ": " + error;
  return false;
}

}  // namespace

bool IsModbusController(const hostconfig::ControllerConfig& controller) {
  return controller.address.rfind("modbus-tcp:", 0) == 0;
}

std::string RunOutcome::Failure() const {
  if (!problem.empty()) return problem;
  std::string failure;
  const auto add = [&failure](const std::string& text) { failure += (failure.empty() ? "" : ", ") + text; };
  if (accepted == 0 && refused == 0) add("no request was made");
  if (refused > 0) add(std::to_string(refused) + " request(s) refused");
  if (notEndedOnce > 0) add(std::to_string(notEndedOnce) + " request(s) did not end exactly once");
  return failure;
}

RunOutcome RunController(const std::shared_ptr<const hostconfig::ConfigDocument>& document,
                         const hostconfig::ControllerConfig& controller, const RunSettings& settings) {
  const char* const name = controller.name.c_str();
  RunOutcome outcome;
  ITARVO_DeviceConfig* rawConfig = nullptr;
  if (FAILED(hostconfig::XmlDeviceConfig::Create(document, controller.name, &rawConfig))) {
    outcome.problem = "no device configuration";
    std::printf("%s: %s\n", name, outcome.problem.c_str());
    return outcome;
  }
  const ComHolder<ITARVO_DeviceConfig> config(rawConfig);
  const ComHolder<simline::HostDeviceInfo> info(simline::HostDeviceInfo::Create(config.get()));
  const ComHolder<simline::ResultSink> sink(simline::ResultSink::Create(controller.name));
  const bool modbus = IsModbusController(controller) && settings.pPool != nullptr;
  ComHolder<simline::SimulatedLine> line;
  ComHolder<modbustcp::ModbusProtocolComms> layer;
  std::string address = controller.address;
  if (modbus) {
    modbustcp::ModbusEndpoint endpoint;
    std::string error;
    if (!ModbusEndpointOf(controller, settings, endpoint, error)) {
      outcome.problem = error;
      std::printf("%s: %s\n", name, error.c_str());
      return outcome;
    }
    // The component finds its target by this text before it starts.
    config->SetConfiguration(L"", endpoint.RuntimeInformation().c_str());
    layer.reset(modbustcp::ModbusProtocolComms::Create(*settings.pPool, endpoint));
    address = endpoint.Url();
  } else {
    line.reset(
        simline::SimulatedLine::Create({settings.answerModule, std::chrono::milliseconds(3), settings.refuseEvery}));
  }
  ITARVO_ProtocolComms* const protocol = modbus ? static_cast<ITARVO_ProtocolComms*>(layer.get()) : line.get();

  // The configuration has no notion of a one-by-one controller: every
  // controller gets a parallel component, limited by its ParallelLimit.
  std::unique_ptr<ParallelCommunication> component(ParallelCommunication::CreateInstance());
  const HRESULT started = component ? component->Initialise(info.get(), sink.get(), protocol) : E_OUTOFMEMORY;
  if (FAILED(started)) {
    outcome.problem = "the component did not start (" + hostcom::ResultCodeText(started) + ")";
    if (component) {
      const std::string why = BaseCommsLastLoadError(component.get());
      if (!why.empty()) outcome.problem += ": " + why;
    }
    std::printf("%s: %s\n", name, outcome.problem.c_str());
    return outcome;
  }
  std::printf("%s: line %s, address %s, parallel limit %d\n", name, controller.line.c_str(), address.c_str(),
              static_cast<int>(controller.parallelLimit));
  ParallelCommunication* const receiver = component.get();
  if (modbus) {
    layer->Start([receiver](ITARVO_ProtocolMessage* message) { receiver->Receive(message); });
  } else {
    line->Start(receiver);
  }

  const auto start = std::chrono::steady_clock::now();
  Requests requests(*component, controller.name);
  MakeRequests(*component, config.get(), settings, controller.name, modbus, requests);
  const bool allIn = sink->WaitForAll(requests.Accepted(), settings.wait);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  component->StopSendReceive();
  modbustcp::ModbusConnection::Counters counters;
  if (modbus) {
    counters = layer->Connection()->GetCounters();
    layer->Stop();
  } else {
    line->Stop();
  }
  component->UnInitialise();
  component.reset();

  int once = 0, twice = 0, none = 0;
  for (const ITARVO_DeviceMessage* message : requests.Accepted()) {
    const int ended = sink->Completed(message);
    once += ended == 1 ? 1 : 0;
    twice += ended > 1 ? 1 : 0;
    none += ended == 0 ? 1 : 0;
  }
  if (modbus) {
    // Counters of the connection, which other controllers of the target share.
    std::printf("%s: %zu requests accepted: %d ended once, %d more than once, %d not at all%s; "
                "%d error results; connection: %lu time-outs, %lu reconnects, %lu dropped frames; %.0f requests/s\n\n",
                name, requests.Accepted().size(), once, twice, none, allIn ? "" : " (timed out)", sink->Failed(),
                counters.timedOut, counters.connects > 0 ? counters.connects - 1 : 0, counters.droppedFrames,
                seconds > 0 ? static_cast<double>(requests.Accepted().size()) / seconds : 0.0);
  } else {
    std::printf("%s: %zu requests accepted: %d ended once, %d more than once, %d not at all%s; "
                "%d error results; line answered %u, refused %u\n\n",
                name, requests.Accepted().size(), once, twice, none, allIn ? "" : " (timed out)", sink->Failed(),
                static_cast<unsigned>(line->Answered()), static_cast<unsigned>(line->Refused()));
  }
  outcome.accepted = requests.Accepted().size();
  outcome.refused = requests.Refused();
  outcome.notEndedOnce = static_cast<std::size_t>(twice + none);
  return outcome;
}

}  // namespace demo
