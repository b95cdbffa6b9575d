// TraceModel.h: what the viewer learns from the component's added lines
// ("Component:", "Request:", "Wait:", "Leave:", "Refused:", "Result:"; see
// docs/TRACE.md): the controllers, every request from its start to its final
// result, every wait with its reason, refusals and errors. Built line by line
// from a live channel or a recorded file; the summary table and the timeline
// are drawn from it.
//
// Times are milliseconds of the day, read from the viewer's time stamp at the
// start of a line ("HH:MM:SS.mmm "); a line without one counts as 1 ms after
// the line before. Other lines are ignored.
//
// Thread-safety: none; one thread adds lines and reads the model.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

struct TraceWait {
  std::string reason;  // ParallelLimit, OneByOneHold, TurnOrder, TimeWatch
  double start = 0;
  double end = -1;  // -1 while it lasts
};

struct TraceRequest {
  int target = -1;  // of its component when it started
  std::string component;
  std::string deviceMessage;
  std::string service;
  int command = 0;
  double start = 0;
  double end = -1;  // the final result's time; -1 while it runs
  std::string resultName;  // of the final result
  bool error = false;
  bool cancelled = false;
  std::vector<TraceWait> waits;
};

struct TraceComponent {
  std::string configuration;
  int target = -1;
  int limit = 0;
};

class TraceModel {
 public:
  void AddLine(const std::string& line);

  // Keyed by (target, address): a component address may come back for
  // another controller once the first component is gone.
  using ComponentKey = std::pair<int, std::string>;
  const std::map<ComponentKey, TraceComponent>& Components() const { return m_components; }
  const std::vector<TraceRequest>& Requests() const { return m_requests; }
  // The target of a component now, -1 when no "Component:" line named it.
  int TargetOf(const std::string& component) const;
  double FirstTime() const { return m_first; }
  double LastTime() const { return m_last; }

  // Per target: one row with components, in flight / limit, parked now by
  // reason, waits so far by reason, holders of the one-by-one hold and of
  // exclusive mode, requests, requests/s over the last `window` ms (all of
  // the trace when `window` <= 0), latency p50/p99 of finished requests and
  // errors by name.
  std::string SummaryTable(double window = 0) const;

  // The "Name(value)" fields of a line, in order.
  static std::map<std::string, std::string> Fields(const std::string& text);
  // "HH:MM:SS.mmm" at the start of `line` in ms of the day, or -1.
  static double TimeOfDay(const std::string& line);

 private:
  struct Target {
    std::string oneByOneHolder;  // "component/service" of the last hold seen
    std::string exclusiveHolder;
    std::map<std::string, int> refused;
  };
  TraceRequest* OpenRequest(const std::string& key, const std::string& value);

  std::map<ComponentKey, TraceComponent> m_components;
  std::map<std::string, int> m_currentTarget;
  std::vector<TraceRequest> m_requests;
  std::map<int, Target> m_targets;
  double m_first = -1;
  double m_last = 0;
};
