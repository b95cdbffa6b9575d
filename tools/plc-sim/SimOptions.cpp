#include "SimOptions.h"

#include <CLI/CLI.hpp>

namespace plcsim {

int ParseOptions(int argc, char** argv, SimOptions& options) {
  CLI::App app{"A Modbus/TCP controller simulator.\n"
               "Each unit id has coils, discrete inputs, holding and input registers. Holding register i of\n"
               "unit u starts at u*1000+i, input register i at u*100+i, coil and discrete input i at (i+u)%2.\n"
               "Input register 0 counts ticks, input register 1 ramps 0..990 in steps of 10 per tick.\n"
               "Prints the port it listens on, and at exit the largest number of requests in flight per\n"
               "connection. Stops on SIGINT or SIGTERM."};
  app.add_option("--bind", options.bind, "Address to listen on")->capture_default_str();
  app.add_option("-p,--port", options.port, "TCP port (0: any free port)")
      ->check(CLI::Range(0, 65535))
      ->capture_default_str();
  app.add_option("--units", options.units, "Unit ids served")->check(CLI::Range(0, 255))->delimiter(',');
  app.add_option("--size", options.size, "Coils, discrete inputs and registers per unit")
      ->check(CLI::Range(2, 65535))
      ->capture_default_str();
  app.add_option("--tick", options.tickMs, "Milliseconds between counter and ramp steps")
      ->check(CLI::Range(1, 60000))
      ->capture_default_str();
  app.add_option("--latency", options.latencyMs, "Milliseconds before each answer")->check(CLI::Range(0, 60000));
  app.add_option("--jitter", options.jitterMs, "Up to this many more milliseconds, at random")
      ->check(CLI::Range(0, 60000));
  app.add_option("--drop-every", options.dropEvery, "Never answer every Nth request (0: none)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--close-every", options.closeEvery, "Close a connection at its Nth request (0: never)")
      ->check(CLI::NonNegativeNumber);
  app.add_flag("--out-of-order", options.outOfOrder, "Answer requests that are due together newest first");
  app.add_option("--bad-frame-every", options.badFrameEvery,
                 "Send a malformed frame before every Nth answer (0: never)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--bad-frame-kind", options.badFrameKind,
                 "protocol: wrong protocol id; tid: unknown transaction id; length: a length field of 0")
      ->check(CLI::IsMember({"protocol", "tid", "length"}))
      ->capture_default_str();
  app.add_option("--seed", options.seed, "Seed of the jitter")->capture_default_str();
  app.add_option("--max-seconds", options.maxSeconds, "Stop after this many seconds")
      ->check(CLI::Range(1, 86400))
      ->capture_default_str();
  app.add_option("--parent", options.parent,
                 "Stop once process PID, the one that starts the simulator, has ended (a killed test leaves no "
                 "server behind)")
      ->check(CLI::PositiveNumber);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  return -1;
}

}  // namespace plcsim
