// trace-viewer: shows the trace lines of every process that uses libBaseComms.
//
// Start it before the programs to watch: a library loaded while no viewer had
// created the channel never traces. One viewer per channel: a second one is
// refused while the first lives. At exit the viewer leaves the channel's
// objects in /dev/shm (--remove takes them away): programs still running keep
// them open, and a viewer started again reaches those programs. See
// docs/TRACE.md.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "LineSink.h"
#include "Platform/LastError.h"
#include "Platform/NamedObjects.h"
#include "Trace/TraceLayout.h"
#include "Trace/TraceReader.h"
#include "TraceViewer.h"

namespace {

// Every category letter and sign in use, and the prefix parts @, I and N.
constexpr char kDefaultFilter[] = "ACDEFGHJKLMOPQRSTUWXYZ$@IN";

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Shows the trace lines of the processes that use libBaseComms.\n"
               "Creates the trace channel when it is absent, switches tracing on, prints each line as it\n"
               "arrives and switches tracing off again on Ctrl-C or SIGTERM."};
  std::string filter = kDefaultFilter;
  std::string outputPath;
  const char* environmentSuffix = std::getenv(qtmtrace::kSuffixVariable);
  std::string suffix = environmentSuffix != nullptr ? environmentSuffix : "";
  bool quiet = false;
  bool remove = false;
  app.add_option("-f,--filter", filter,
                 "Category characters to show (upper case; @ I N add process name, thread id and milliseconds "
                 "to each line; at most 34)")
      ->capture_default_str();
  app.add_option("-o,--output", outputPath, "Also append the lines to this file");
  app.add_flag("-q,--quiet", quiet, "Do not print to standard output (with --output)");
  app.add_option("--suffix", suffix,
                 "Attach to the channel whose object names end in this suffix (default: $BASECOMMS_TRACE_SUFFIX)");
  app.add_flag("--remove", remove,
               "Remove the channel's shared-memory objects and exit (they stay after a viewer exits, for programs "
               "still running)");
  CLI11_PARSE(app, argc, argv);

  if (filter.size() > qtmtrace::kFilterSize - 1) {
    std::fprintf(stderr, "trace-viewer: the filter holds at most %zu characters\n", qtmtrace::kFilterSize - 1);
    return 2;
  }
  if (remove) {
    CQTMTraceReader::RemoveChannel(suffix);
    return 0;
  }

  LineSink sink;
  sink.SetEcho(!quiet);
  if (!outputPath.empty() && !sink.OpenFile(outputPath)) {
    std::fprintf(stderr, "trace-viewer: cannot open %s\n", outputPath.c_str());
    return 1;
  }

  // Ctrl-C and SIGTERM are taken by a thread of their own, so that the main
  // thread may block on the trace event and still stop cleanly.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  DWORD liveViewer = 0;
  auto reader = CQTMTraceReader::Attach(suffix, &liveViewer);
  if (reader == nullptr) {
    const DWORD error = GetLastError();
    const std::string channel = qtmtrace::kMappingBaseName + suffix;
    if (error == ERROR_BUSY) {
      std::fprintf(stderr, "trace-viewer: the trace channel %s already has a viewer (process %u); stop it first\n",
                   channel.c_str(), liveViewer);
    } else {
      std::fprintf(stderr, "trace-viewer: cannot create or open the trace channel %s (error %u)\n", channel.c_str(),
                   error);
    }
    return 1;
  }
  TraceViewer viewer(std::move(reader), sink);
  std::thread signalThread([&viewer, stopSignals] {
    int received = 0;
    sigwait(&stopSignals, &received);
    viewer.Stop();
  });
  viewer.Run(filter);
  signalThread.join();
  return 0;
}
