#include "SimServer.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace plcsim {

namespace {

// The MBAP header: transaction id, protocol id, length, unit id.
constexpr std::size_t kHeaderSize = 7;
// The loop wakes at least this often to look at the stop flag.
constexpr std::chrono::milliseconds kLongestSleep{100};

}  // namespace

SimServer::SimServer(const SimOptions& options, UnitMaps& maps)
    : m_options(options), m_maps(maps), m_random(options.seed) {}

SimServer::~SimServer() {
  for (Connection& connection : m_connections) ::close(connection.fd);
  if (m_listenFd >= 0) ::close(m_listenFd);
  if (m_pContext != nullptr) modbus_free(m_pContext);
}

int SimServer::Listen() {
  m_pContext = modbus_new_tcp(m_options.bind.c_str(), m_options.port);
  if (m_pContext == nullptr) return -1;
  m_listenFd = modbus_tcp_listen(m_pContext, 16);
  if (m_listenFd < 0) return -1;
  sockaddr_in address{};
  socklen_t length = sizeof(address);
  if (::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
  return ntohs(address.sin_port);
}

void SimServer::Run(const volatile sig_atomic_t& stop) {
  const Clock::time_point end = Clock::now() + std::chrono::seconds(m_options.maxSeconds);
  // An ended parent leaves the simulator to another process (getppid
  // changes); looked at first thing and then about every kLongestSleep.
  Clock::time_point parentCheck = Clock::now();
  std::vector<pollfd> fds;
  std::vector<std::list<Connection>::iterator> polled;
  while (stop == 0) {
    Clock::time_point now = Clock::now();
    if (now >= end) break;
    if (m_options.parent != 0 && now >= parentCheck) {
      if (::getppid() != m_options.parent) break;
      parentCheck = now + kLongestSleep;
    }
    m_maps.Advance(now);
    const Clock::time_point wake = std::min({NextDue(), m_maps.NextTick(), end, now + kLongestSleep});
    const auto timeout = std::chrono::ceil<std::chrono::milliseconds>(std::max(wake - now, Clock::duration::zero()));

    fds.assign(1, pollfd{m_listenFd, POLLIN, 0});
    polled.clear();
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
      fds.push_back(pollfd{it->fd, POLLIN, 0});
      polled.push_back(it);
    }
    const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(timeout.count()));
    if (ready < 0 && errno != EINTR) break;
    now = Clock::now();
    if (ready > 0) {
      for (std::size_t i = 0; i < polled.size(); ++i) {
        if (fds[i + 1].revents == 0) continue;
        if (!ReadRequests(*polled[i], now)) {
          Close(*polled[i]);
          m_connections.erase(polled[i]);
        }
      }
      if ((fds[0].revents & POLLIN) != 0) Accept();
    }
    now = Clock::now();
    m_maps.Advance(now);
    for (auto it = m_connections.begin(); it != m_connections.end();) {
      if (AnswerDue(*it, now)) {
        ++it;
      } else {
        Close(*it);
        it = m_connections.erase(it);
      }
    }
  }
}

void SimServer::Accept() {
  const int fd = ::accept(m_listenFd, nullptr, nullptr);
  if (fd < 0) return;
  Connection connection;
  connection.fd = fd;
  connection.number = ++m_connectionCount;
  m_connections.push_back(std::move(connection));
}

// The MBAP header's length field counts the unit id and the PDU: 2..254 in
// a request (a PDU of 1..253 bytes).
bool SimServer::ReadRequests(Connection& connection, Clock::time_point now) {
  std::uint8_t buffer[4096];
  const ssize_t n = ::recv(connection.fd, buffer, sizeof buffer, 0);
  if (n == 0) return false;  // the peer closed
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  std::vector<uint8_t>& in = connection.in;
  in.insert(in.end(), buffer, buffer + n);
  std::size_t used = 0;
  while (in.size() - used >= kHeaderSize) {
    const std::size_t length = (std::size_t{in[used + 4]} << 8) | in[used + 5];
    // Not a request: the stream cannot be followed any further.
    if (in[used + 2] != 0 || in[used + 3] != 0 || length < 2 || length > 254) return false;
    if (in.size() - used < 6 + length) break;
    const std::vector<uint8_t> request(in.begin() + static_cast<std::ptrdiff_t>(used),
                                       in.begin() + static_cast<std::ptrdiff_t>(used + 6 + length));
    used += 6 + length;
    if (!TakeRequest(connection, request, now)) return false;
  }
  in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(used));
  return true;
}

bool SimServer::TakeRequest(Connection& connection, const std::vector<uint8_t>& request, Clock::time_point now) {
  ++m_requests;
  ++connection.requests;
  if (m_options.closeEvery > 0 && connection.requests % static_cast<unsigned long>(m_options.closeEvery) == 0) {
    ++m_closedByRule;
    return false;
  }
  if (m_options.dropEvery > 0 && m_requests % static_cast<unsigned long>(m_options.dropEvery) == 0) {
    ++m_dropped;
    return true;
  }
  std::uniform_int_distribution<int> jitter(0, m_options.jitterMs);
  const auto delay = std::chrono::milliseconds(m_options.latencyMs + jitter(m_random));
  connection.pending.push_back(Pending{request, now + delay});
  connection.maxInFlight = std::max(connection.maxInFlight, connection.pending.size());
  return true;
}

// Corks a connection for its scope: answers written meanwhile leave in as
// few segments as fit, so that a client with many in flight reads them with
// one wake-up instead of one each.
class Cork {
 public:
  Cork(int fd, bool on) : m_fd(on ? fd : -1) { Set(1); }
  ~Cork() { Set(0); }
  Cork(const Cork&) = delete;
  Cork& operator=(const Cork&) = delete;

 private:
  void Set(int value) {
    if (m_fd >= 0) ::setsockopt(m_fd, IPPROTO_TCP, TCP_CORK, &value, sizeof value);
  }
  const int m_fd;
};

bool SimServer::AnswerDue(Connection& connection, Clock::time_point now) {
  if (!m_options.outOfOrder) {
    const auto second = connection.pending.size() < 2 ? connection.pending.end() : std::next(connection.pending.begin());
    const Cork cork(connection.fd, second != connection.pending.end() && connection.pending.front().due <= now &&
                                       second->due <= now);
    while (!connection.pending.empty() && connection.pending.front().due <= now) {
      const bool written = Answer(connection, connection.pending.front().request);
      connection.pending.pop_front();
      if (!written) return false;
    }
    return true;
  }
  std::vector<std::vector<uint8_t>> due;
  for (auto it = connection.pending.begin(); it != connection.pending.end();) {
    if (it->due <= now) {
      due.push_back(std::move(it->request));
      it = connection.pending.erase(it);
    } else {
      ++it;
    }
  }
  const Cork cork(connection.fd, due.size() >= 2);
  for (auto it = due.rbegin(); it != due.rend(); ++it) {
    if (!Answer(connection, *it)) return false;
  }
  return true;
}

bool SimServer::Answer(Connection& connection, const std::vector<uint8_t>& request) {
  ++m_answers;
  if (m_options.badFrameEvery > 0 && m_answers % static_cast<unsigned long>(m_options.badFrameEvery) == 0 &&
      !SendBadFrame(connection, request)) {
    return false;
  }
  modbus_set_socket(m_pContext, connection.fd);
  modbus_mapping_t* const map = m_maps.Find(request[6]);
  const int length = static_cast<int>(request.size());
  const int written = map != nullptr ? modbus_reply(m_pContext, request.data(), length, map)
                                     : modbus_reply_exception(m_pContext, request.data(), MODBUS_EXCEPTION_GATEWAY_TARGET);
  return written >= 0;
}

bool SimServer::SendBadFrame(Connection& connection, const std::vector<uint8_t>& request) {
  ++m_badFrames;
  // MBAP header (transaction id, protocol id, length, unit id) and a short
  // exception PDU, spoiled in the field the kind names.
  uint8_t frame[9] = {request[0], request[1], 0, 0, 0, 3, request[6], static_cast<uint8_t>(request[7] | 0x80), 0x04};
  if (m_options.badFrameKind == "protocol") {
    frame[3] = 1;
  } else if (m_options.badFrameKind == "tid") {
    frame[0] = static_cast<uint8_t>(frame[0] ^ 0x80);
  } else {
    frame[5] = 0;
  }
  return ::send(connection.fd, frame, sizeof(frame), MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof(frame));
}

void SimServer::Close(Connection& connection) {
  ::close(connection.fd);
  m_closed.push_back(Closed{connection.number, connection.requests, connection.maxInFlight});
}

SimServer::Clock::time_point SimServer::NextDue() const {
  Clock::time_point next = Clock::time_point::max();
  for (const Connection& connection : m_connections) {
    for (const Pending& pending : connection.pending) next = std::min(next, pending.due);
  }
  return next;
}

void SimServer::PrintSummary(std::FILE* out) const {
  std::vector<Closed> all = m_closed;
  for (const Connection& connection : m_connections) {
    all.push_back(Closed{connection.number, connection.requests, connection.maxInFlight});
  }
  std::sort(all.begin(), all.end(), [](const Closed& a, const Closed& b) { return a.number < b.number; });
  std::size_t largest = 0;
  for (const Closed& connection : all) {
    std::fprintf(out, "plc-sim: connection %d: requests %lu, max in flight %zu\n", connection.number,
                 connection.requests, connection.maxInFlight);
    largest = std::max(largest, connection.maxInFlight);
  }
  std::fprintf(out,
               "plc-sim: connections %d, requests %lu, answers %lu, dropped %lu, closed by rule %lu, "
               "malformed frames %lu\n",
               m_connectionCount, m_requests, m_answers, m_dropped, m_closedByRule, m_badFrames);
  std::fprintf(out, "plc-sim: max in flight per connection: %zu\n", largest);
  std::fflush(out);
}

}  // namespace plcsim
