#include "TraceModel.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace {

const char* const kMarkers[] = {"Component: ", "Request: ", "Wait: ", "Leave: ", "Refused: ", "Result: "};

int ToInt(const std::map<std::string, std::string>& fields, const char* name) {
  auto found = fields.find(name);
  return found != fields.end() ? std::atoi(found->second.c_str()) : 0;
}

std::string Get(const std::map<std::string, std::string>& fields, const char* name) {
  auto found = fields.find(name);
  return found != fields.end() ? found->second : std::string();
}

std::string Short(const std::string& address) {
  // The low six hex digits tell the objects of one run apart in a table.
  return address.size() > 6 ? address.substr(address.size() - 6) : address;
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(index, values.size() - 1)];
}

}  // namespace

std::map<std::string, std::string> TraceModel::Fields(const std::string& text) {
  std::map<std::string, std::string> fields;
  std::size_t position = 0;
  while ((position = text.find('(', position)) != std::string::npos) {
    std::size_t nameStart = position;
    while (nameStart > 0 && std::isalnum(static_cast<unsigned char>(text[nameStart - 1]))) --nameStart;
    int depth = 1;
    std::size_t end = position + 1;
    for (; end < text.size() && depth > 0; ++end) {
      if (text[end] == '(') ++depth;
      if (text[end] == ')') --depth;
    }
    if (nameStart < position && depth == 0) {
      fields[text.substr(nameStart, position - nameStart)] = text.substr(position + 1, end - position - 2);
    }
    position = end;
  }
  return fields;
}

double TraceModel::TimeOfDay(const std::string& line) {
  int hours = 0, minutes = 0, seconds = 0, milliseconds = 0;
  if (line.size() < 12 || line[2] != ':' || line[5] != ':' || line[8] != '.') return -1;
  if (std::sscanf(line.c_str(), "%2d:%2d:%2d.%3d", &hours, &minutes, &seconds, &milliseconds) != 4) return -1;
  return ((hours * 60.0 + minutes) * 60.0 + seconds) * 1000.0 + milliseconds;
}

int TraceModel::TargetOf(const std::string& component) const {
  auto found = m_currentTarget.find(component);
  return found != m_currentTarget.end() ? found->second : -1;
}

TraceRequest* TraceModel::OpenRequest(const std::string& key, const std::string& value) {
  for (auto it = m_requests.rbegin(); it != m_requests.rend(); ++it) {
    const std::string& field = key == "Service" ? it->service : it->deviceMessage;
    if (field == value && it->end < 0) return &*it;
  }
  return nullptr;
}

void TraceModel::AddLine(const std::string& line) {
  std::size_t at = std::string::npos;
  std::string marker;
  for (const char* candidate : kMarkers) {
    const std::size_t found = line.find(candidate);
    if (found != std::string::npos && found < at) {
      at = found;
      marker = candidate;
    }
  }
  if (at == std::string::npos) return;
  double time = TimeOfDay(line);
  if (time < 0) time = m_last + 1;
  if (m_first < 0) m_first = time;
  m_last = std::max(m_last, time);
  const auto fields = Fields(line.substr(at));
  const std::string component = Get(fields, "Component");

  if (marker == "Component: ") {
    const int target = ToInt(fields, "Target");
    m_components[{target, component}] = {Get(fields, "Configuration"), target, ToInt(fields, "ParallelLimit")};
    m_currentTarget[component] = target;
  } else if (marker == "Request: ") {
    TraceRequest request;
    request.target = TargetOf(component);
    request.component = component;
    request.deviceMessage = Get(fields, "DeviceMessage");
    request.service = Get(fields, "Service");
    request.command = ToInt(fields, "Command");
    request.start = time;
    m_requests.push_back(request);
  } else if (marker == "Wait: ") {
    const std::string reason = Get(fields, "Reason");
    if (reason == "OneByOneHold") {
      m_targets[ToInt(fields, "Target")].oneByOneHolder =
          Short(Get(fields, "HolderComponent")) + "/" + Short(Get(fields, "HolderService"));
    }
    if (TraceRequest* request = OpenRequest("Service", Get(fields, "Service"))) {
      request->waits.push_back({reason, time, -1});
    }
  } else if (marker == "Leave: ") {
    const std::string service = Get(fields, "Service");
    for (TraceRequest& request : m_requests) {
      if (request.service != service || request.end >= 0) continue;
      for (TraceWait& wait : request.waits) {
        if (wait.end < 0) wait.end = time;
      }
      if (Get(fields, "Why") == "Cancelled") request.cancelled = true;
    }
  } else if (marker == "Refused: ") {
    if (Get(fields, "Reason") == "ExclusiveMode") {
      Target& target = m_targets[ToInt(fields, "Target")];
      target.exclusiveHolder = Short(Get(fields, "HolderComponent"));
      ++target.refused["ExclusiveMode"];
    } else if (TraceRequest* request = OpenRequest("DeviceMessage", Get(fields, "DeviceMessage"))) {
      // Refused after it got its service (it had a Request line): it ends here, as an error.
      request->end = time;
      request->resultName = Get(fields, "Name");
      request->error = true;
    }
  } else if (marker == "Result: ") {
    if (ToInt(fields, "Complete") != 1) return;
    if (TraceRequest* request = OpenRequest("DeviceMessage", Get(fields, "DeviceMessage"))) {
      request->end = time;
      request->resultName = Get(fields, "Name");
      request->error = request->resultName.rfind("QTM_ERROR", 0) == 0;
    }
  }
}

std::string TraceModel::SummaryTable(double window) const {
  struct Row {
    std::set<std::string> components;
    int limit = 0;
    int inFlight = 0;
    int requests = 0;
    int recent = 0;
    std::map<std::string, int> parkedNow, waited, errors;
    std::vector<double> latencies;
  };
  std::map<int, Row> rows;
  for (const auto& [key, component] : m_components) {
    Row& row = rows[key.first];
    row.components.insert(key.second);
    row.limit = std::max(row.limit, component.limit);
  }
  const double since = window > 0 ? m_last - window : m_first;
  for (const TraceRequest& request : m_requests) {
    Row& row = rows[request.target];
    ++row.requests;
    if (request.start >= since) ++row.recent;
    bool parked = false;
    for (const TraceWait& wait : request.waits) {
      ++row.waited[wait.reason];
      if (wait.end < 0) {
        ++row.parkedNow[wait.reason];
        parked = true;
      }
    }
    if (request.end < 0) {
      if (!parked) ++row.inFlight;
    } else {
      row.latencies.push_back(request.end - request.start);
      if (request.error) ++row.errors[request.resultName];
    }
  }
  auto counts = [](const std::map<std::string, int>& values) {
    std::string text;
    for (const auto& [name, count] : values) text += (text.empty() ? "" : " ") + name + "=" + std::to_string(count);
    return text.empty() ? std::string("-") : text;
  };
  const double seconds = std::max(0.001, (m_last - since) / 1000.0);
  std::string table;
  char line[512];
  for (const auto& [key, row] : rows) {
    auto target = m_targets.find(key);
    const Target none;
    const Target& info = target != m_targets.end() ? target->second : none;
    std::snprintf(line, sizeof line,
                  "target %d: components %zu, in flight %d/%d, requests %d (%.1f/s), latency p50 %.0f ms p99 %.0f ms\n",
                  key, row.components.size(), row.inFlight, row.limit, row.requests, row.recent / seconds,
                  Percentile(row.latencies, 0.5), Percentile(row.latencies, 0.99));
    table += line;
    table += "  parked now: " + counts(row.parkedNow) + "; waits: " + counts(row.waited) + "\n";
    table += "  one-by-one holder: " + (info.oneByOneHolder.empty() ? std::string("-") : info.oneByOneHolder) +
             "; exclusive holder: " + (info.exclusiveHolder.empty() ? std::string("-") : info.exclusiveHolder) +
             "; refused: " + counts(info.refused) + "\n";
    table += "  errors: " + counts(row.errors) + "\n";
  }
  return table;
}
