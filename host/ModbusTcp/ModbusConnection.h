// ModbusConnection.h: one Modbus/TCP connection to one physical target
// (server and unit id), shared by the protocol layers of the components on it.
//
// Requests are pipelined: each gets a free transaction id and goes out as soon
// as the connection is up, however many are already in flight (the
// component's dispatcher keeps that within the target's parallel limit);
// answers are matched by transaction id in whatever order they come. Frames
// with an unknown transaction id (late answers included), a protocol id other
// than 0, another unit id or a function code that does not fit the request
// are dropped with a trace line; a length field that cannot belong to a frame
// makes the stream unreadable, so the connection is closed and opened again.
//
// Every request has a deadline; one that passes it is completed with
// PROTOCOL_E_TIMEOUT. While the connection is down, requests wait for it
// until their deadline (they are not refused); a connection lost with
// requests in flight completes those at once with PROTOCOL_E_CONNECTION_LOST.
// Reconnects wait an exponential back-off (endpoint.backoff doubling up to
// endpoint.backoffMax, reset by a successful connect). Each state change is
// traced: connecting, connected, lost, back-off.
//
// Completion: SetResponse on the message's ITARVO_ProtocolResponse, then the
// client's receive function, both on the connection's own I/O thread with no
// lock of the connection held. Each submitted request is completed exactly
// once, or dropped unanswered when its client detaches first.
//
// Writes: while the connection is up, Submit writes the request's frame from
// the calling thread (what the socket does not take at once, the I/O thread
// writes when it can); while it is down, requests queue for the I/O thread.
//
// The I/O thread sleeps at most `longestSleep` at a time (a safety net: every
// event that needs it sooner wakes it). An exception thrown in one of its
// turns (memory running out, say) is traced and the loop goes on after a
// short pause; a turn leaves nothing half done that the next one would lose
// or complete a second time (see Run).
//
// Ownership: shared (std::shared_ptr) between the protocol layers of the
// target; holds one reference on each message and its response interface
// until completion. Threads: Submit/Attach/Detach from any thread; the I/O
// thread connects, reads and closes the socket. m_writeLock guards writing
// to the socket and the bytes waiting to be written; m_lock guards the
// request tables, the clients, the counters, m_delivering and the test's
// turn wrapper.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Interfaces/Protocol.h"
#include "ModbusTcp/ModbusEndpoint.h"
#include "Interfaces/ProtocolResponse.h"

namespace modbustcp {

using TraceFunction = std::function<void(const std::string&)>;
using ReceiveFunction = std::function<void(ITARVO_ProtocolMessage*)>;
// Tests only: runs one turn of the I/O thread (by calling `turn`).
using TurnWrapper = std::function<void(const std::function<void()>& turn)>;

class ModbusConnection {
 public:
  using Clock = std::chrono::steady_clock;
  using ClientId = unsigned;

  struct Counters {
    unsigned long connects = 0;      // successful connects
    unsigned long losses = 0;        // connections lost or closed to resynchronise
    unsigned long answered = 0;
    unsigned long timedOut = 0;
    unsigned long failedByLoss = 0;
    unsigned long droppedFrames = 0;
    std::size_t inFlight = 0;        // written and not answered now
  };

  static constexpr std::chrono::milliseconds kDefaultLongestSleep{100};

  // Starts the I/O thread, which connects at once.
  ModbusConnection(const ModbusEndpoint& endpoint, TraceFunction trace,
                   std::chrono::milliseconds longestSleep = kDefaultLongestSleep);
  // Stops the I/O thread; requests still held are released unanswered.
  ~ModbusConnection();
  ModbusConnection(const ModbusConnection&) = delete;
  ModbusConnection& operator=(const ModbusConnection&) = delete;

  ClientId Attach(ReceiveFunction receive);
  // No completion reaches the client after Detach returns: its requests are
  // released unanswered, and a completion being delivered is waited for.
  // Never call it from the client's receive function.
  void Detach(ClientId client);
  // Completes every request of `client` with `status` soon, on the I/O thread.
  void FailAll(ClientId client, HRESULT status);

  // Takes `message` for `client` (one reference on it and on `response`).
  // `pdu` is the request PDU, `deadline` when it must be answered.
  // E_OUTOFMEMORY when memory runs out: then nothing is taken or held.
  HRESULT Submit(ClientId client, ITARVO_ProtocolMessage* message, ITARVO_ProtocolResponse* response,
                 std::vector<std::uint8_t> pdu, std::uint8_t unit, Clock::time_point deadline);

  const ModbusEndpoint& Endpoint() const { return m_endpoint; }
  Counters GetCounters() const;

  // Tests only: each later turn of the I/O thread runs inside `wrapper`
  // (which may, say, make the turn's allocations fail); empty: none.
  void SetTurnWrapperForTest(TurnWrapper wrapper);

 private:
  struct Request {
    ClientId client = 0;
    ITARVO_ProtocolMessage* pMessage = nullptr;    // one reference
    ITARVO_ProtocolResponse* pResponse = nullptr;  // one reference
    std::vector<std::uint8_t> pdu;
    std::uint8_t unit = 0;
    Clock::time_point deadline;
  };
  struct Completion {
    Request request;
    HRESULT status;
    std::vector<std::uint8_t> pdu;
  };
  enum tagState { tagDisconnected, tagConnecting, tagConnected };

  void Run();
  // One turn of the loop; fills `done` with what must be completed. When it
  // throws, `done` holds what it completed before the throw.
  void Turn(std::vector<Completion>& done);
  void StartConnect(Clock::time_point now, std::vector<Completion>& done);
  void FinishConnect(Clock::time_point now, std::vector<Completion>& done);
  void Lose(const char* why, Clock::time_point now, std::vector<Completion>& done);
  // Moves every request in flight to `done` as lost, or (when memory runs
  // out) none of them.
  void FailInFlight(std::vector<Completion>& done);
  // The ...Locked operations want m_writeLock held.
  void MoveQueuedToLineLocked();
  // Gives `request` a free transaction id, puts its frame in m_out and the
  // request in flight; wants m_lock held too. When an allocation throws,
  // nothing has changed and `request` is still the caller's.
  void PutOnLineLocked(Request&& request);
  // Writes what the socket takes of m_out; false on a write error.
  bool WritePendingLocked();
  void ReadFrames(std::vector<Completion>& done);
  // Takes the whole frames in m_in; a frame is gone from m_in once taken.
  void TakeFrames(Clock::time_point now, std::vector<Completion>& done);
  void TakeFrame(const std::uint8_t* frame, std::size_t size, std::vector<Completion>& done);
  void Expire(Clock::time_point now, std::vector<Completion>& done);
  // Does not throw: what SetResponse or a receive function throws is traced.
  void Deliver(std::vector<Completion>& done);
  void Wake();
  // Never throws: a line that cannot be written (memory running out) is lost.
  void Trace(const std::string& line) noexcept;
  void TraceFailedTurn(const char* what) noexcept;
  static void ReleaseRequest(Request& request);

  const ModbusEndpoint m_endpoint;
  const TraceFunction m_trace;
  const std::chrono::milliseconds m_longestSleep;
  int m_wakeFd = -1;
  // I/O thread only (m_socket is changed by it under m_writeLock):
  int m_socket = -1;
  tagState m_state = tagDisconnected;
  Clock::time_point m_reconnectAt;
  std::chrono::milliseconds m_backoff;
  std::vector<std::uint8_t> m_in;

  // Taken before m_lock when both are held.
  std::mutex m_writeLock;
  bool m_writable = false;                     // guarded by m_writeLock: connected; m_socket takes writes
  std::vector<std::uint8_t> m_out;             // guarded by m_writeLock: bytes not yet written

  mutable std::mutex m_lock;
  std::condition_variable m_delivered;
  bool m_stop = false;                         // guarded by m_lock
  std::deque<Request> m_queue;                 // guarded by m_lock: not yet written
  std::map<std::uint16_t, Request> m_inFlight;  // guarded by m_lock: written, by transaction id
  std::uint16_t m_nextTransaction = 1;         // guarded by m_lock
  // Shared with a delivery in progress, so that copying one never throws.
  std::map<ClientId, std::shared_ptr<const ReceiveFunction>> m_clients;  // guarded by m_lock
  std::map<ClientId, HRESULT> m_failAll;       // guarded by m_lock
  ClientId m_nextClient = 1;                   // guarded by m_lock
  ClientId m_delivering = 0;                   // guarded by m_lock
  Counters m_counters;                         // guarded by m_lock
  Clock::time_point m_ioWakeAt;                // guarded by m_lock: when the I/O thread looks at deadlines next
  TurnWrapper m_turnWrapper;                   // guarded by m_lock
  std::thread m_thread;
};

}  // namespace modbustcp
