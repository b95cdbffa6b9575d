// SimServer.h: the simulator's Modbus/TCP server loop.
//
// One thread polls the listening socket and every connection. Requests are
// split from what each read brings by their MBAP length (a burst of
// pipelined requests costs one read) and held per connection until their
// answer falls due (latency plus jitter), so a client may have several in
// flight; libmodbus then checks each request and builds and writes its
// answer from the unit's register map (answers due together leave corked, in
// as few segments as fit), including
// exception answers for addresses or counts out of range. A unit id that is
// not served gets exception 0x0B (gateway target failed to respond).
// Faults from SimOptions are played here. Owns its sockets and its libmodbus
// context; single-threaded, stopped by the flag given to Run.
#pragma once

#include <modbus/modbus.h>
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <list>
#include <random>
#include <vector>

#include "SimOptions.h"
#include "UnitMaps.h"

namespace plcsim {

class SimServer {
 public:
  SimServer(const SimOptions& options, UnitMaps& maps);
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Listens; returns the bound port or -1.
  int Listen();
  // Serves until `stop` is set or the time limit passes.
  void Run(const volatile sig_atomic_t& stop);
  // Counters and the largest number of requests in flight per connection.
  void PrintSummary(std::FILE* out) const;

 private:
  using Clock = std::chrono::steady_clock;
  struct Pending {
    std::vector<uint8_t> request;
    Clock::time_point due;
  };
  struct Connection {
    int fd = -1;
    int number = 0;
    unsigned long requests = 0;
    std::size_t maxInFlight = 0;
    std::list<Pending> pending;  // in arrival order
    std::vector<uint8_t> in;     // read, not yet a whole request
  };
  struct Closed {
    int number;
    unsigned long requests;
    std::size_t maxInFlight;
  };

  void Accept();
  // Reads the requests waiting on `connection`; false when it must be closed.
  bool ReadRequests(Connection& connection, Clock::time_point now);
  // Plays the fault rules on one whole request and holds it for its answer;
  // false when the connection must be closed.
  bool TakeRequest(Connection& connection, const std::vector<uint8_t>& request, Clock::time_point now);
  // Writes the answers that are due; false when the connection must be closed.
  bool AnswerDue(Connection& connection, Clock::time_point now);
  bool Answer(Connection& connection, const std::vector<uint8_t>& request);
  bool SendBadFrame(Connection& connection, const std::vector<uint8_t>& request);
  void Close(Connection& connection);
  Clock::time_point NextDue() const;

  const SimOptions& m_options;
  UnitMaps& m_maps;
  modbus_t* m_pContext = nullptr;
  int m_listenFd = -1;
  std::list<Connection> m_connections;
  std::vector<Closed> m_closed;
  std::mt19937 m_random;
  int m_connectionCount = 0;
  unsigned long m_requests = 0;
  unsigned long m_answers = 0;
  unsigned long m_dropped = 0;
  unsigned long m_badFrames = 0;
  unsigned long m_closedByRule = 0;
};

}  // namespace plcsim
