// ModbusBench: requests per second over Modbus/TCP on loopback, through the
// component, the Modbus services and the host's protocol layer, beside raw
// libmodbus round trips on one connection to the same simulator in the same
// run. The component runs at parallel limit 1 and 16; the ratios to raw
// libmodbus are printed with their goals (at least 0.6 at limit 1, where the
// component's two thread hand-offs are the difference; at least 3 at limit
// 16, where requests are pipelined on the one connection). Starts plc-sim
// itself on a free loopback port; every loop is bounded in count and time.
// Last, against a simulator that answers nothing, how late a time-out result
// comes after its deadline (goal: at most 100 ms).
// Run an optimised build: build/release/bench/ModbusBench [requests]
#include <modbus/modbus.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Median.h"
#include "BaseComms/BaseComms.h"
#include "HostObject.h"
#include "ModbusTcp/ConnectionPool.h"
#include "ModbusTcp/ModbusProtocolComms.h"
#include "PlcSimProcess.h"
#include "SimulatedLine/HostDeviceInfo.h"
#include "SimulatedLine/HostDeviceResult.h"
#include "XmlConfig/ConfigDocument.h"
#include "XmlConfig/XmlDeviceConfig.h"

namespace {

using Clock = std::chrono::steady_clock;
template <typename T>
using ComHolder = std::unique_ptr<T, hostcom::ComReleaser<T>>;

// A read of one holding register (command 3, address, count 1).
class ReadMessage final : public hostcom::HostObject<ITARVO_DeviceMessage, IID_ITARVO_DeviceMessage> {
 public:
  explicit ReadMessage(int address) : m_data{static_cast<BYTE>(address), static_cast<BYTE>(address >> 8), 1, 0} {}
  HRESULT STDMETHODCALLTYPE GetMessageKey(LPWSTR* key) override {
    *key = static_cast<LPWSTR>(CoTaskMemAlloc(2 * sizeof(wchar_t)));
    (*key)[0] = L'3';
    (*key)[1] = L'\0';
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetData(ULONG* count, BYTE** bytes) override {
    *bytes = static_cast<BYTE*>(CoTaskMemAlloc(m_data.size()));
    std::copy(m_data.begin(), m_data.end(), *bytes);
    *count = static_cast<ULONG>(m_data.size());
    return S_OK;
  }

 private:
  const std::vector<BYTE> m_data;
};

// Counts complete and failed results.
class CountingSink final : public hostcom::HostObject<ITARVO_DeviceResultCallback, IID_ITARVO_DeviceResultCallback> {
 public:
  HRESULT STDMETHODCALLTYPE ReceiveDeviceResult(ITARVO_DeviceResult* result) override {
    LONG complete = 0, code = 0;
    result->GetComplete(&complete);
    result->GetErrorCode(&code);
    bool reached = false;
    {
      const std::lock_guard<std::mutex> guard(m_lock);
      m_complete += complete != 0 ? 1 : 0;
      m_failed += code < 0 ? 1 : 0;
      reached = m_complete == m_awaited;
    }
    // Only the awaited count wakes the host thread: a wake per result would
    // cost the run a context switch per request that raw libmodbus does
    // not pay.
    if (reached) m_changed.notify_all();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReceiveDeviceResults(LONG count, ITARVO_DeviceResult** results) override {
    for (LONG i = 0; i < count; ++i) ReceiveDeviceResult(results[i]);
    return S_OK;
  }
  bool WaitFor(long complete, std::chrono::seconds bound) {
    std::unique_lock<std::mutex> guard(m_lock);
    m_awaited = complete;
    return m_changed.wait_for(guard, bound, [&] { return m_complete >= complete; });
  }
  long Failed() {
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_failed;
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  long m_complete = 0;
  long m_failed = 0;
  long m_awaited = 0;
};

double RawLibmodbus(int port, int requests) {
  modbus_t* context = modbus_new_tcp("127.0.0.1", port);
  if (context == nullptr || modbus_set_slave(context, 1) != 0 || modbus_connect(context) != 0) {
    std::fprintf(stderr, "ModbusBench: raw libmodbus cannot connect\n");
    return 0;
  }
  uint16_t value = 0;
  const auto start = Clock::now();
  int done = 0;
  for (; done < requests; ++done) {
    if (modbus_read_registers(context, done % 100, 1, &value) != 1) {
      std::fprintf(stderr, "ModbusBench: raw libmodbus: %s\n", modbus_strerror(errno));
      break;
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  modbus_close(context);
  modbus_free(context);
  return done / seconds;
}

// One component on the simulator through the Modbus services and the
// host's protocol layer; `ok` is false when any part failed to come up.
class ComponentRig {
 public:
  ComponentRig(int port, int limit, int timeoutMs) {
    const std::string configuration =
        "<HostConfiguration><Lines><Line Name='TCP'/></Lines><Networks><Network Name='N'><Services>"
        "<Services Name='Local'><Service CommandNo='3' DllPath='" MODBUS_SERVICES_PATH
        "' ClassName='ReadHoldingRegistersService' SuperClassName='ModbusService'/></Services></Services></Network>"
        "</Networks><Controllers><Controller Name='PLC' Network='N' Line='TCP' ParallelLimit='" +
        std::to_string(limit) + "' Address='modbus-tcp://127.0.0.1:" + std::to_string(port) +
        "?timeout=" + std::to_string(timeoutMs) +
        "'><DriverVersionInfo><DriverReleaseVersion>1.0.0</DriverReleaseVersion></DriverVersionInfo>"
        "</Controller></Controllers></HostConfiguration>";
    std::string error;
    const auto document = hostconfig::ConfigDocument::LoadText(configuration, error);
    modbustcp::ModbusEndpoint endpoint;
    ITARVO_DeviceConfig* rawConfig = nullptr;
    if (!document || FAILED(hostconfig::XmlDeviceConfig::Create(document, "PLC", &rawConfig)) ||
        !modbustcp::ParseModbusUrl(document->Controllers()[0].address, endpoint, error)) {
      std::fprintf(stderr, "ModbusBench: %s\n", error.c_str());
      return;
    }
    m_config.reset(rawConfig);
    m_info.reset(simline::HostDeviceInfo::Create(m_config.get()));
    m_layer.reset(modbustcp::ModbusProtocolComms::Create(m_pool, endpoint));
    m_component.reset(ParallelCommunication::CreateInstance());
    if (FAILED(m_component->Initialise(m_info.get(), m_sink.get(), m_layer.get()))) return;
    ParallelCommunication* const receiver = m_component.get();
    m_layer->Start([receiver](ITARVO_ProtocolMessage* message) { receiver->Receive(message); });
    ok = true;
  }
  ~ComponentRig() {
    if (!ok) return;
    m_component->StopSendReceive();
    m_layer->Stop();
    m_component->UnInitialise();
  }
  ComponentRig(const ComponentRig&) = delete;
  ComponentRig& operator=(const ComponentRig&) = delete;

  bool Request(ReadMessage* message) {
    LONG code = 0;
    return SUCCEEDED(m_component->RequestMessageService(message, &code));
  }
  CountingSink& Sink() { return *m_sink; }

  bool ok = false;

 private:
  ComHolder<ITARVO_DeviceConfig> m_config;
  ComHolder<simline::HostDeviceInfo> m_info;
  ComHolder<CountingSink> m_sink{new CountingSink};
  modbustcp::ConnectionPool m_pool;
  ComHolder<modbustcp::ModbusProtocolComms> m_layer;
  std::unique_ptr<ParallelCommunication> m_component;
};

double ThroughComponent(int port, int limit, int requests) {
  ComponentRig rig(port, limit, 10000);
  if (!rig.ok) return 0;
  std::vector<ComHolder<ReadMessage>> messages;
  for (int i = 0; i < requests; ++i) messages.emplace_back(new ReadMessage(i % 100));
  // A first request opens the connection before the clock starts.
  ComHolder<ReadMessage> warmUp(new ReadMessage(0));
  rig.Request(warmUp.get());
  rig.Sink().WaitFor(1, std::chrono::seconds(10));
  const auto start = Clock::now();
  long accepted = 1;
  for (auto& message : messages) accepted += rig.Request(message.get()) ? 1 : 0;
  const bool all = rig.Sink().WaitFor(accepted, std::chrono::seconds(60));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!all || rig.Sink().Failed() != 0) {
    std::fprintf(stderr, "ModbusBench: limit %d: %s, %ld failed\n", limit, all ? "all ended" : "not all ended",
                 rig.Sink().Failed());
  }
  return (accepted - 1) / seconds;
}

// How late a time-out result comes: requests to a simulator that answers
// none, one at a time, each ended by its deadline (`timeoutMs` after its
// send). Returns the largest of (time to the result - time-out), in ms.
double TimeOutLateness(int port, int timeoutMs, int count) {
  ComponentRig rig(port, 1, timeoutMs);
  if (!rig.ok) return -1;
  double latest = 0;
  for (int i = 0; i < count; ++i) {
    ComHolder<ReadMessage> message(new ReadMessage(i));
    const auto start = Clock::now();
    if (!rig.Request(message.get()) || !rig.Sink().WaitFor(i + 1, std::chrono::seconds(10))) return -1;
    const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    latest = std::max(latest, elapsed - timeoutMs);
  }
  if (rig.Sink().Failed() != count) std::fprintf(stderr, "ModbusBench: a dropped request did not fail\n");
  return latest;
}

}  // namespace

int main(int argc, char** argv) {
  const int requests = argc > 1 ? std::max(100, std::min(100000, std::atoi(argv[1]))) : 20000;
  plcsimtest::PlcSimProcess sim;
  if (!sim.Start({})) {
    std::fprintf(stderr, "ModbusBench: plc-sim did not start\n");
    return 1;
  }
  setenv("BASECOMMS_TRACE_SUFFIX", "-modbusbench", 0);
  const simline::DeviceResultClass resultClass;
  // Two processes and four busy threads on a machine of few cores: single
  // runs swing with the scheduler. Each figure is the median of rounds that
  // take the three in turn.
  constexpr int kRounds = 5;
  std::vector<double> raws, ones, sixteens;
  for (int round = 0; round < kRounds; ++round) {
    raws.push_back(RawLibmodbus(sim.Port(), requests));
    ones.push_back(ThroughComponent(sim.Port(), 1, requests));
    sixteens.push_back(ThroughComponent(sim.Port(), 16, requests));
  }
  const double raw = Median(raws);
  const double one = Median(ones);
  const double sixteen = Median(sixteens);
  sim.Stop();
  std::printf("%d requests on loopback per round, one holding register each; medians of %d rounds\n", requests,
              kRounds);
  std::printf("raw libmodbus, one connection:     %9.0f requests/s\n", raw);
  std::printf("component, parallel limit 1:       %9.0f requests/s  ratio %.2f (goal >= 0.6)\n", one,
              raw > 0 ? one / raw : 0);
  std::printf("component, parallel limit 16:      %9.0f requests/s  ratio %.2f (goal >= 3)\n", sixteen,
              raw > 0 ? sixteen / raw : 0);
  std::printf("plc-sim: max in flight per connection %d\n", sim.MaxInFlight());

  plcsimtest::PlcSimProcess silent;
  if (!silent.Start({"--drop-every", "1"})) {
    std::fprintf(stderr, "ModbusBench: plc-sim did not start\n");
    return 1;
  }
  const double lateness = TimeOutLateness(silent.Port(), 200, 10);
  silent.Stop();
  std::printf("time-out 200 ms, answer dropped:   result at most %.1f ms after the deadline (goal <= 100)\n",
              lateness);
  return 0;
}
