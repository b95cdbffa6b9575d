#include "ModbusTcp/ModbusConnection.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>

#include "ModbusTcp/MbapFrame.h"

namespace modbustcp {

namespace {

// After a turn that threw, the loop waits this long before the next one, so
// that a failure that lasts (memory running out) does not spin the CPU.
constexpr std::chrono::milliseconds kPauseAfterFailedTurn{5};
// Reads of one turn before the loop looks at deadlines and writes again.
constexpr int kReadsPerTurn = 64;
// Requests in flight at most: one per transaction id.
constexpr std::size_t kTransactionIds = 0x10000;

}  // namespace

ModbusConnection::ModbusConnection(const ModbusEndpoint& endpoint, TraceFunction trace,
                                   std::chrono::milliseconds longestSleep)
    : m_endpoint(endpoint),
      m_trace(std::move(trace)),
      m_longestSleep(longestSleep),
      m_reconnectAt(Clock::now()),
      m_backoff(endpoint.backoff) {
  m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  m_thread = std::thread([this] { Run(); });
}

ModbusConnection::~ModbusConnection() {
  {
    const std::lock_guard<std::mutex> guard(m_lock);
    m_stop = true;
  }
  Wake();
  if (m_thread.joinable()) m_thread.join();
  for (Request& request : m_queue) ReleaseRequest(request);
  for (auto& [transaction, request] : m_inFlight) ReleaseRequest(request);
  if (m_socket >= 0) ::close(m_socket);
  if (m_wakeFd >= 0) ::close(m_wakeFd);
}

ModbusConnection::ClientId ModbusConnection::Attach(ReceiveFunction receive) {
  const std::lock_guard<std::mutex> guard(m_lock);
  auto shared = std::make_shared<const ReceiveFunction>(std::move(receive));
  const ClientId client = m_nextClient++;
  m_clients[client] = std::move(shared);
  return client;
}

void ModbusConnection::Detach(ClientId client) {
  std::vector<Request> dropped;
  {
    std::unique_lock<std::mutex> guard(m_lock);
    m_clients.erase(client);
    m_failAll.erase(client);
    for (auto it = m_queue.begin(); it != m_queue.end();) {
      if (it->client == client) {
        dropped.push_back(*it);
        it = m_queue.erase(it);
      } else {
        ++it;
      }
    }
    for (auto it = m_inFlight.begin(); it != m_inFlight.end();) {
      if (it->second.client == client) {
        dropped.push_back(it->second);
        it = m_inFlight.erase(it);
      } else {
        ++it;
      }
    }
    m_delivered.wait(guard, [this, client] { return m_delivering != client; });
  }
  for (Request& request : dropped) ReleaseRequest(request);
}

void ModbusConnection::FailAll(ClientId client, HRESULT status) {
  {
    const std::lock_guard<std::mutex> guard(m_lock);
    m_failAll[client] = status;
  }
  Wake();
}

HRESULT ModbusConnection::Submit(ClientId client, ITARVO_ProtocolMessage* message, ITARVO_ProtocolResponse* response,
                                 std::vector<std::uint8_t> pdu, std::uint8_t unit, Clock::time_point deadline) {
  // The references are taken first: once the request is on the line or
  // queued, the I/O thread may complete and release it at any moment.
  message->AddRef();
  response->AddRef();
  bool wake = true;
  try {
    Request request{client, message, response, std::move(pdu), unit, deadline};
    const std::lock_guard<std::mutex> writeGuard(m_writeLock);
    bool direct = false;
    bool sooner = false;
    {
      const std::lock_guard<std::mutex> guard(m_lock);
      // The line is up (and has a free transaction id): the frame goes out
      // from this thread, which saves the hand-off to the I/O thread.
      direct = m_writable && m_queue.empty() && m_inFlight.size() < kTransactionIds;
      if (direct) {
        sooner = deadline < m_ioWakeAt;
        PutOnLineLocked(std::move(request));
      } else {
        m_queue.push_back(std::move(request));
      }
    }
    // The I/O thread is woken for a direct write only when the socket takes
    // less than all (it then writes the rest), on a write error (it then
    // closes the connection), or when this deadline comes before it would
    // look at deadlines again.
    if (direct) wake = !WritePendingLocked() || !m_out.empty() || sooner;
  } catch (const std::bad_alloc&) {
    // Neither the queue nor the line kept the request (both change only
    // when their allocation succeeded), so nothing else holds these.
    response->Release();
    message->Release();
    return E_OUTOFMEMORY;
  }
  if (wake) Wake();
  return S_OK;
}

ModbusConnection::Counters ModbusConnection::GetCounters() const {
  const std::lock_guard<std::mutex> guard(m_lock);
  Counters counters = m_counters;
  counters.inFlight = m_inFlight.size();
  return counters;
}

void ModbusConnection::SetTurnWrapperForTest(TurnWrapper wrapper) {
  const std::lock_guard<std::mutex> guard(m_lock);
  m_turnWrapper = std::move(wrapper);
}

// A turn that throws is abandoned where it threw; the loop traces what it
// caught, pauses and goes on. Nothing is lost or completed twice that way:
// what the turn completed before the throw is in `done` and is delivered now
// (Deliver does not throw); every step of a turn changes its state only once
// what can throw has succeeded (a request leaves the tables only once its
// completion is in `done`, a frame leaves m_in only once it is taken, bytes
// leave the socket only into memory reserved for them), or else leaves it
// consistent for the next turn to finish (a loss whose requests could not be
// moved to `done` is finished by the next turn). A request whose turns keep
// failing still ends at its deadline, once memory comes back.
void ModbusConnection::Run() {
  std::vector<Completion> done;
  for (;;) {
    bool failed = false;
    try {
      TurnWrapper wrapper;
      {
        const std::lock_guard<std::mutex> guard(m_lock);
        if (m_stop) break;
        wrapper = m_turnWrapper;
      }
      if (wrapper) {
        wrapper([this, &done] { Turn(done); });
      } else {
        Turn(done);
      }
    } catch (const std::exception& e) {
      TraceFailedTurn(e.what());
      failed = true;
    } catch (...) {
      TraceFailedTurn("an unknown exception");
      failed = true;
    }
    Deliver(done);
    if (failed) std::this_thread::sleep_for(kPauseAfterFailedTurn);
  }
}

void ModbusConnection::Turn(std::vector<Completion>& done) {
  Clock::time_point now = Clock::now();
  if (m_state == tagConnected) {
    TakeFrames(now, done);  // frames a turn that threw left unread
  } else {
    FailInFlight(done);  // requests of a loss a turn that threw left in flight
  }
  Expire(now, done);
  if (m_state == tagDisconnected && now >= m_reconnectAt) StartConnect(now, done);
  bool outPending = false;
  if (m_state == tagConnected) {
    bool written = false;
    {
      const std::lock_guard<std::mutex> writeGuard(m_writeLock);
      MoveQueuedToLineLocked();
      written = WritePendingLocked();
      outPending = !m_out.empty();
    }
    if (!written) Lose("write failed", now, done);
  }

  Clock::time_point wake = now + m_longestSleep;
  if (m_state == tagDisconnected) wake = std::min(wake, m_reconnectAt);
  // What expired or failed this turn is delivered before the loop sleeps.
  if (!done.empty()) wake = now;
  {
    // Published with the deadlines read: a request written directly with
    // an earlier deadline wakes the thread.
    const std::lock_guard<std::mutex> guard(m_lock);
    for (const Request& request : m_queue) wake = std::min(wake, request.deadline);
    for (const auto& [transaction, request] : m_inFlight) wake = std::min(wake, request.deadline);
    m_ioWakeAt = wake;
  }
  pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_socket, 0, 0}};
  if (m_state == tagConnecting) fds[1].events = POLLOUT;
  if (m_state == tagConnected) fds[1].events = static_cast<short>(POLLIN | (outPending ? POLLOUT : 0));
  const nfds_t count = m_state == tagDisconnected ? 1 : 2;
  const auto timeout = std::chrono::ceil<std::chrono::milliseconds>(std::max(wake - now, Clock::duration::zero()));
  if (::poll(fds, count, static_cast<int>(timeout.count())) <= 0) return;
  if ((fds[0].revents & POLLIN) != 0) {
    std::uint64_t value = 0;
    [[maybe_unused]] const ssize_t drained = ::read(m_wakeFd, &value, sizeof(value));
  }
  if (count < 2 || fds[1].revents == 0) return;
  now = Clock::now();
  if (m_state == tagConnecting) {
    FinishConnect(now, done);
    return;
  }
  if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) ReadFrames(done);
  if (m_state == tagConnected && (fds[1].revents & POLLOUT) != 0) {
    bool written = false;
    {
      const std::lock_guard<std::mutex> writeGuard(m_writeLock);
      written = WritePendingLocked();
    }
    if (!written) Lose("write failed", now, done);
  }
}

void ModbusConnection::StartConnect(Clock::time_point now, std::vector<Completion>& done) {
  Trace("connecting to " + m_endpoint.Line());
  const bool v6 = m_endpoint.host.find(':') != std::string::npos;
  sockaddr_storage address{};
  socklen_t length = 0;
  if (v6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&address);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(m_endpoint.port);
    inet_pton(AF_INET6, m_endpoint.host.c_str(), &a->sin6_addr);
    length = sizeof(*a);
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&address);
    a->sin_family = AF_INET;
    a->sin_port = htons(m_endpoint.port);
    inet_pton(AF_INET, m_endpoint.host.c_str(), &a->sin_addr);
    length = sizeof(*a);
  }
  m_socket = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (m_socket < 0) {
    Lose("no socket", now, done);
    return;
  }
  const int one = 1;
  ::setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  m_state = tagConnecting;
  if (::connect(m_socket, reinterpret_cast<sockaddr*>(&address), length) == 0) {
    FinishConnect(now, done);
  } else if (errno != EINPROGRESS) {
    // Refused at once (common on loopback): SO_ERROR no longer holds why.
    Lose(std::strerror(errno), now, done);
  }
}

void ModbusConnection::FinishConnect(Clock::time_point now, std::vector<Completion>& done) {
  int error = 0;
  socklen_t size = sizeof(error);
  if (::getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
  if (error != 0) {
    Lose(std::strerror(error), now, done);
    return;
  }
  m_state = tagConnected;
  m_backoff = m_endpoint.backoff;
  m_in.clear();
  {
    const std::lock_guard<std::mutex> writeGuard(m_writeLock);
    m_out.clear();
    m_writable = true;
  }
  {
    const std::lock_guard<std::mutex> guard(m_lock);
    ++m_counters.connects;
  }
  Trace("connected to " + m_endpoint.Line());
}

void ModbusConnection::Lose(const char* why, Clock::time_point now, std::vector<Completion>& done) {
  const bool wasConnected = m_state == tagConnected;
  {
    // No other thread writes to the socket once it is closed.
    const std::lock_guard<std::mutex> writeGuard(m_writeLock);
    m_writable = false;
    m_out.clear();
    if (m_socket >= 0) ::close(m_socket);
    m_socket = -1;
  }
  m_state = tagDisconnected;
  m_in.clear();
  const std::chrono::milliseconds backoff = m_backoff;
  m_reconnectAt = now + backoff;
  m_backoff = std::min(m_backoff * 2, m_endpoint.backoffMax);
  std::size_t failed = 0;
  {
    const std::lock_guard<std::mutex> guard(m_lock);
    failed = m_inFlight.size();
    if (wasConnected) ++m_counters.losses;
  }
  // The connection's state is settled before anything that can throw.
  FailInFlight(done);
  Trace(std::string(wasConnected ? "connection lost (" : "connect failed (") + why + "), " +
        std::to_string(failed) + " requests in flight failed");
  Trace("back-off " + std::to_string(backoff.count()) + " ms");
}

void ModbusConnection::FailInFlight(std::vector<Completion>& done) {
  const std::lock_guard<std::mutex> guard(m_lock);
  // With the room reserved, moving the requests cannot throw.
  done.reserve(done.size() + m_inFlight.size());
  for (auto& [transaction, request] : m_inFlight) {
    done.push_back(Completion{std::move(request), PROTOCOL_E_CONNECTION_LOST, {}});
  }
  m_counters.failedByLoss += m_inFlight.size();
  m_inFlight.clear();
}

void ModbusConnection::MoveQueuedToLineLocked() {
  const std::lock_guard<std::mutex> guard(m_lock);
  while (!m_queue.empty() && m_inFlight.size() < kTransactionIds) {
    PutOnLineLocked(std::move(m_queue.front()));
    m_queue.pop_front();
  }
}

void ModbusConnection::PutOnLineLocked(Request&& request) {
  while (m_inFlight.count(m_nextTransaction) != 0) ++m_nextTransaction;
  const std::uint16_t transaction = m_nextTransaction;
  const std::vector<std::uint8_t> frame = BuildFrame(transaction, request.unit, request.pdu);
  m_out.insert(m_out.end(), frame.begin(), frame.end());
  try {
    m_inFlight.emplace(transaction, std::move(request));
  } catch (const std::bad_alloc&) {
    m_out.resize(m_out.size() - frame.size());  // the frame goes with its request
    throw;
  }
  ++m_nextTransaction;
}

bool ModbusConnection::WritePendingLocked() {
  while (!m_out.empty()) {
    const ssize_t n = ::send(m_socket, m_out.data(), m_out.size(), MSG_NOSIGNAL);
    if (n > 0) {
      m_out.erase(m_out.begin(), m_out.begin() + n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return true;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

void ModbusConnection::ReadFrames(std::vector<Completion>& done) {
  const Clock::time_point now = Clock::now();
  for (int i = 0; i < kReadsPerTurn; ++i) {
    std::uint8_t buffer[4096];
    // Room first: bytes taken from the socket must not be lost to a failed
    // allocation (the stream would be out of step).
    m_in.reserve(m_in.size() + sizeof(buffer));
    const ssize_t n = ::recv(m_socket, buffer, sizeof(buffer), 0);
    if (n > 0) {
      m_in.insert(m_in.end(), buffer, buffer + n);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n < 0 && errno == EINTR) continue;
    Lose(n == 0 ? "closed by the server" : std::strerror(errno), now, done);
    return;
  }
  TakeFrames(now, done);
}

void ModbusConnection::TakeFrames(Clock::time_point now, std::vector<Completion>& done) {
  std::size_t used = 0;
  bool outOfStep = false;
  try {
    while (m_in.size() - used >= kMbapHeaderSize) {
      const MbapHeader header = ReadHeader(m_in.data() + used);
      if (!LengthValid(header.length)) {
        const std::string line =
            "frame with bad length " + std::to_string(header.length) + " dropped, reconnecting to resynchronise";
        {
          const std::lock_guard<std::mutex> guard(m_lock);
          ++m_counters.droppedFrames;
        }
        Trace(line);
        outOfStep = true;
        break;
      }
      const std::size_t size = 6 + std::size_t{header.length};
      if (m_in.size() - used < size) break;
      TakeFrame(m_in.data() + used, size, done);
      used += size;
    }
  } catch (...) {
    // The frame that threw was not taken (TakeFrame changes nothing then):
    // it stays, with what follows, for the next turn.
    m_in.erase(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(used));
    throw;
  }
  m_in.erase(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(used));
  if (outOfStep) Lose("stream out of step", now, done);
}

void ModbusConnection::TakeFrame(const std::uint8_t* frame, std::size_t size, std::vector<Completion>& done) {
  const MbapHeader header = ReadHeader(frame);
  std::string dropped;
  {
    // Whatever can throw comes before the frame counts as taken.
    const std::lock_guard<std::mutex> guard(m_lock);
    const auto found = m_inFlight.find(header.transaction);
    if (header.protocol != 0) {
      dropped = "protocol id " + std::to_string(header.protocol);
    } else if (found == m_inFlight.end()) {
      dropped = "unknown transaction id " + std::to_string(header.transaction);
    } else if (header.unit != found->second.unit) {
      dropped = "unit id " + std::to_string(header.unit) + " for transaction id " + std::to_string(header.transaction);
    } else if ((frame[kMbapHeaderSize] & 0x7F) != found->second.pdu[0]) {
      dropped = "function code " + std::to_string(frame[kMbapHeaderSize]) + " for transaction id " +
                std::to_string(header.transaction);
    } else {
      done.push_back(Completion{found->second, S_OK, {frame + kMbapHeaderSize, frame + size}});
      m_inFlight.erase(found);
      ++m_counters.answered;
      return;
    }
    dropped = "frame with " + dropped + " dropped";
    ++m_counters.droppedFrames;
  }
  Trace(dropped);
}

void ModbusConnection::Expire(Clock::time_point now, std::vector<Completion>& done) {
  const std::lock_guard<std::mutex> guard(m_lock);
  const auto take = [&](Request& request, HRESULT status) { done.push_back(Completion{request, status, {}}); };
  for (auto it = m_queue.begin(); it != m_queue.end();) {
    const auto fail = m_failAll.find(it->client);
    if (fail != m_failAll.end() || it->deadline <= now) {
      take(*it, fail != m_failAll.end() ? fail->second : PROTOCOL_E_TIMEOUT);
      if (fail == m_failAll.end()) ++m_counters.timedOut;
      it = m_queue.erase(it);
    } else {
      ++it;
    }
  }
  for (auto it = m_inFlight.begin(); it != m_inFlight.end();) {
    const auto fail = m_failAll.find(it->second.client);
    if (fail != m_failAll.end() || it->second.deadline <= now) {
      take(it->second, fail != m_failAll.end() ? fail->second : PROTOCOL_E_TIMEOUT);
      if (fail == m_failAll.end()) ++m_counters.timedOut;
      it = m_inFlight.erase(it);
    } else {
      ++it;
    }
  }
  m_failAll.clear();
}

void ModbusConnection::Deliver(std::vector<Completion>& done) {
  for (Completion& completion : done) {
    std::shared_ptr<const ReceiveFunction> receive;
    {
      const std::lock_guard<std::mutex> guard(m_lock);
      const auto client = m_clients.find(completion.request.client);
      if (client != m_clients.end()) {
        receive = client->second;
        m_delivering = completion.request.client;
      }
    }
    if (receive) {
      // SetResponse belongs to a plug-in and the receive function to the
      // host; one that throws (it must not) is traced, and the message is
      // still handed on and released, so that its request ends and Detach
      // does not wait for a delivery that never finishes.
      try {
        completion.request.pResponse->SetResponse(completion.status, static_cast<ULONG>(completion.pdu.size()),
                                                  completion.pdu.data());
      } catch (...) {
        Trace("SetResponse threw; the message is handed on as it was left");
      }
      try {
        (*receive)(completion.request.pMessage);
      } catch (...) {
        Trace("the receive function threw");
      }
      {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_delivering = 0;
      }
      m_delivered.notify_all();
    }
    ReleaseRequest(completion.request);
  }
  done.clear();
}

void ModbusConnection::Wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(m_wakeFd, &one, sizeof(one));
}

void ModbusConnection::Trace(const std::string& line) noexcept {
  try {
    if (m_trace) m_trace("ModbusConnection " + m_endpoint.TargetKey() + ": " + line);
  } catch (...) {
    // A trace line is worth less than the work it reports on.
  }
}

void ModbusConnection::TraceFailedTurn(const char* what) noexcept {
  try {
    Trace(std::string("turn failed (") + what + "), going on in " + std::to_string(kPauseAfterFailedTurn.count()) +
          " ms");
  } catch (...) {
    // As in Trace.
  }
}

void ModbusConnection::ReleaseRequest(Request& request) {
  if (request.pResponse != nullptr) request.pResponse->Release();
  if (request.pMessage != nullptr) request.pMessage->Release();
  request.pResponse = nullptr;
  request.pMessage = nullptr;
}

}  // namespace modbustcp
