// SimOptions.h: what the controller simulator serves and which faults it plays.
//
// A plain value filled once from the command line before the server starts.
#pragma once

#include <string>
#include <vector>

namespace plcsim {

struct SimOptions {
  std::string bind = "127.0.0.1";
  int port = 1502;                // 0: an ephemeral port, printed at start
  std::vector<int> units{1, 2, 3};
  int size = 1000;                // coils, discrete inputs and registers per unit
  int tickMs = 100;               // period of the counter and the ramp
  int latencyMs = 0;              // every answer waits this long ...
  int jitterMs = 0;               // ... plus up to this much more
  int dropEvery = 0;              // every Nth request is never answered (0: none)
  int closeEvery = 0;             // a connection is closed at its Nth request (0: never)
  bool outOfOrder = false;        // answers due together go out newest first
  int badFrameEvery = 0;          // every Nth answer is preceded by a malformed frame
  std::string badFrameKind = "protocol";  // protocol, tid or length
  unsigned seed = 1;              // for the jitter
  int maxSeconds = 3600;          // the simulator stops by itself after this long
  int parent = 0;                 // stop once this process is no longer the parent (0: never)
};

// Fills `options` from the command line. Returns -1 to go on, otherwise the
// exit code (help shown or bad arguments).
int ParseOptions(int argc, char** argv, SimOptions& options);

}  // namespace plcsim
