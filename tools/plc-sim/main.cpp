// plc-sim: a Modbus/TCP controller simulator (see SimOptions.cpp for what it
// serves). Prints "plc-sim: listening on ADDRESS:PORT" once it accepts
// connections and a summary at exit. Needs no privileges with a port above
// 1023 or port 0.
#include <signal.h>

#include <cstdio>

#include "SimOptions.h"
#include "SimServer.h"
#include "UnitMaps.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void OnStopSignal(int) { g_stop = 1; }

}  // namespace

int main(int argc, char** argv) {
  plcsim::SimOptions options;
  const int exitCode = plcsim::ParseOptions(argc, argv, options);
  if (exitCode >= 0) return exitCode;

  // No SA_RESTART: a signal ends the server's poll at once.
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  plcsim::UnitMaps maps(options.units, options.size, std::chrono::milliseconds(options.tickMs));
  if (!maps.Valid()) {
    std::fprintf(stderr, "plc-sim: out of memory for the register maps\n");
    return 1;
  }
  plcsim::SimServer server(options, maps);
  const int port = server.Listen();
  if (port < 0) {
    std::perror("plc-sim: cannot listen");
    return 1;
  }
  std::printf("plc-sim: listening on %s:%d\n", options.bind.c_str(), port);
  std::fflush(stdout);
  server.Run(g_stop);
  server.PrintSummary(stdout);
  return 0;
}
