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
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "LineSink.h"
#include "Platform/LastError.h"
#include "Platform/NamedObjects.h"
#include "Trace/TraceLayout.h"
#include "Trace/TraceReader.h"
#include "Timeline.h"
#include "TraceModel.h"
#include "TraceViewer.h"

namespace {

// Every category letter and sign in use, and the prefix parts @, I and N.
constexpr char kDefaultFilter[] = "ACDEFGHJKLMOPQRSTUWXYZ$@IN";

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Writes the timeline of `model` to `path` (HTML for ".html"/".htm", else SVG).
bool WriteTimeline(const TraceModel& model, const std::string& path) {
  const bool html = EndsWith(path, ".html") || EndsWith(path, ".htm");
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    std::fprintf(stderr, "trace-viewer: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  const std::string picture = RenderTimeline(model, html);
  const bool written = std::fwrite(picture.data(), 1, picture.size(), file) == picture.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    std::fprintf(stderr, "trace-viewer: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

// --input: the summary and the timeline of a recorded trace file.
int FromRecording(const std::string& inputPath, bool summary, const std::string& timelinePath) {
  std::ifstream input(inputPath);
  if (!input) {
    std::fprintf(stderr, "trace-viewer: cannot open %s: %s\n", inputPath.c_str(), std::strerror(errno));
    return 1;
  }
  TraceModel model;
  for (std::string line; std::getline(input, line);) model.AddLine(line);
  if (summary) std::fputs(model.SummaryTable().c_str(), stdout);
  if (!timelinePath.empty() && !WriteTimeline(model, timelinePath)) return 1;
  return 0;
}

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
  bool summary = false;
  bool noTime = false;
  std::string timelinePath;
  std::string inputPath;
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
  app.add_flag("--summary", summary,
               "Instead of the lines, show a per-target table about once a second (in flight, parked by reason, "
               "holders, requests/s, latency, errors); with --input, once for the file");
  app.add_option("--timeline", timelinePath,
                 "Write a timeline picture to this file (.svg, or .html for a page) when the viewer stops, or "
                 "for the file given with --input");
  app.add_option("--input", inputPath, "Read a recorded trace file (written with -o) instead of attaching");
  app.add_flag("--no-time", noTime, "Do not stamp the lines with the time of day they were taken");
  CLI11_PARSE(app, argc, argv);

  // Category letters are matched upper case; a filter typed in lower case means the same.
  std::transform(filter.begin(), filter.end(), filter.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (quiet && outputPath.empty() && !summary && timelinePath.empty()) {
    std::fprintf(stderr, "trace-viewer: -q without -o (or --summary, --timeline) would discard every line\n");
    return 2;
  }
  if (!inputPath.empty()) {
    if (!summary && timelinePath.empty()) {
      std::fprintf(stderr, "trace-viewer: --input needs --summary or --timeline\n");
      return 2;
    }
    return FromRecording(inputPath, summary, timelinePath);
  }

  if (filter.size() > qtmtrace::kFilterSize - 1) {
    std::fprintf(stderr, "trace-viewer: the filter holds at most %zu characters\n", qtmtrace::kFilterSize - 1);
    return 2;
  }
  if (remove) {
    CQTMTraceReader::RemoveChannel(suffix);
    return 0;
  }

  LineSink sink;
  sink.SetEcho(!quiet && !summary);
  sink.SetTimeStamps(!noTime);
  if (!outputPath.empty() && !sink.OpenFile(outputPath)) {
    std::fprintf(stderr, "trace-viewer: cannot open %s: %s\n", outputPath.c_str(), std::strerror(errno));
    return 1;
  }
  TraceModel model;
  if (summary || !timelinePath.empty()) sink.SetObserver([&model](const std::string& line) { model.AddLine(line); });

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
  if (summary) {
    viewer.SetTick(
        [&model] {
          std::printf("--- %s\n%s", LineSink::TimeStamp().c_str(), model.SummaryTable(1000).c_str());
          std::fflush(stdout);
        },
        1000);
  }
  std::thread signalThread([&viewer, stopSignals] {
    int received = 0;
    sigwait(&stopSignals, &received);
    viewer.Stop();
  });
  viewer.Run(filter);
  signalThread.join();
  if (summary) std::fputs(model.SummaryTable().c_str(), stdout);
  if (!timelinePath.empty() && !WriteTimeline(model, timelinePath)) return 1;
  return 0;
}
