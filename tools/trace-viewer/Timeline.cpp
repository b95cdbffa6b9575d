#include "Timeline.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>
#include <vector>

namespace {

constexpr double kLeft = 260;   // room for the lane labels
constexpr double kWidth = 900;  // of the time area
constexpr double kRowHeight = 14;
constexpr double kLaneGap = 10;
constexpr double kTop = 50;

const std::pair<const char*, const char*> kReasonColours[] = {
    {"ParallelLimit", "#f4a261"}, {"OneByOneHold", "#9b5de5"}, {"TurnOrder", "#e9c46a"}, {"TimeWatch", "#2a9d8f"}};

const char* ColourOf(const std::string& reason) {
  for (const auto& [name, colour] : kReasonColours) {
    if (reason == name) return colour;
  }
  return "#999999";
}

std::string Escape(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

}  // namespace

std::string RenderTimeline(const TraceModel& model, bool html) {
  const double first = model.FirstTime() < 0 ? 0 : model.FirstTime();
  const double span = std::max(1.0, model.LastTime() - first);
  auto x = [&](double time) { return kLeft + (time - first) / span * kWidth; };

  // Lanes: (target, component), ordered; components without a "Component:" line get target -1.
  std::map<std::pair<int, std::string>, std::vector<const TraceRequest*>> lanes;
  for (const auto& [key, component] : model.Components()) lanes[key];
  for (const TraceRequest& request : model.Requests()) lanes[{request.target, request.component}].push_back(&request);

  std::string body;
  double y = kTop;
  for (const auto& [lane, requests] : lanes) {
    // Rows: each bar takes the first row free at its start.
    std::vector<double> rowEnds;
    std::vector<std::pair<const TraceRequest*, std::size_t>> placed;
    for (const TraceRequest* request : requests) {
      const double end = request->end >= 0 ? request->end : model.LastTime();
      std::size_t row = 0;
      while (row < rowEnds.size() && rowEnds[row] > request->start) ++row;
      if (row == rowEnds.size()) rowEnds.push_back(0);
      rowEnds[row] = end;
      placed.emplace_back(request, row);
    }
    const double height = std::max<std::size_t>(1, rowEnds.size()) * kRowHeight;
    auto found = model.Components().find(lane);
    const std::string configuration = found != model.Components().end() ? found->second.configuration : "";
    body += "<g class=\"lane\" data-target=\"" + std::to_string(lane.first) + "\" data-component=\"" +
            Escape(lane.second) + "\">\n";
    body += "<rect x=\"0\" y=\"" + Number(y) + "\" width=\"" + Number(kLeft + kWidth + 10) + "\" height=\"" +
            Number(height) + "\" fill=\"#f4f4f4\"/>\n";
    body += "<text x=\"4\" y=\"" + Number(y + 11) + "\" font-size=\"10\">target " + std::to_string(lane.first) +
            " · " + Escape(lane.second.substr(lane.second.size() > 6 ? lane.second.size() - 6 : 0)) + " · " +
            Escape(configuration.substr(0, 28)) + "</text>\n";
    for (const auto& [request, row] : placed) {
      const double top = y + static_cast<double>(row) * kRowHeight + 2;
      const double end = request->end >= 0 ? request->end : model.LastTime();
      const double width = std::max(1.0, x(end) - x(request->start));
      std::string outline = request->error ? " stroke=\"#d62828\" stroke-width=\"1.5\"" : "";
      if (request->cancelled) outline = " stroke=\"#333333\" stroke-dasharray=\"3,2\"";
      body += "<rect class=\"bar\" x=\"" + Number(x(request->start)) + "\" y=\"" + Number(top) + "\" width=\"" +
              Number(width) + "\" height=\"" + Number(kRowHeight - 4) + "\" fill=\"#8ab6d6\"" + outline +
              "><title>command " + std::to_string(request->command) + ", " +
              Number(end - request->start) + " ms" +
              (request->resultName.empty() ? "" : ", " + Escape(request->resultName)) + "</title></rect>\n";
      for (const TraceWait& wait : request->waits) {
        const double waitEnd = wait.end >= 0 ? wait.end : model.LastTime();
        body += "<rect class=\"wait\" x=\"" + Number(x(wait.start)) + "\" y=\"" + Number(top) + "\" width=\"" +
                Number(std::max(1.0, x(waitEnd) - x(wait.start))) + "\" height=\"" + Number(kRowHeight - 4) +
                "\" fill=\"" + ColourOf(wait.reason) + "\"><title>" + Escape(wait.reason) + "</title></rect>\n";
      }
    }
    body += "</g>\n";
    y += height + kLaneGap;
  }

  // Time axis: ten ticks in ms from the first line.
  std::string axis = "<g class=\"axis\" font-size=\"9\">\n";
  for (int tick = 0; tick <= 10; ++tick) {
    const double at = kLeft + kWidth * tick / 10.0;
    axis += "<line x1=\"" + Number(at) + "\" y1=\"" + Number(kTop - 6) + "\" x2=\"" + Number(at) + "\" y2=\"" +
            Number(y) + "\" stroke=\"#cccccc\"/>\n";
    axis += "<text x=\"" + Number(at) + "\" y=\"" + Number(kTop - 8) + "\" text-anchor=\"middle\">" +
            Number(span * tick / 10.0) + " ms</text>\n";
  }
  axis += "</g>\n";

  std::string legend = "<g class=\"legend\" font-size=\"10\">\n";
  double lx = 4;
  auto item = [&](const std::string& fill, const std::string& stroke, const std::string& label) {
    legend += "<rect x=\"" + Number(lx) + "\" y=\"8\" width=\"12\" height=\"10\" fill=\"" + fill + "\"" + stroke +
              "/><text x=\"" + Number(lx + 16) + "\" y=\"17\">" + label + "</text>\n";
    lx += 22 + 6.5 * static_cast<double>(label.size());
  };
  item("#8ab6d6", "", "request (start to final result)");
  for (const auto& [name, colour] : kReasonColours) item(colour, "", std::string("waits: ") + name);
  item("#8ab6d6", " stroke=\"#d62828\" stroke-width=\"1.5\"", "error");
  item("#8ab6d6", " stroke=\"#333333\" stroke-dasharray=\"3,2\"", "cancelled");
  legend += "</g>\n";

  const double totalWidth = std::max(kLeft + kWidth + 10, lx);
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Number(totalWidth) + "\" height=\"" +
                    Number(y + 10) + "\" font-family=\"sans-serif\">\n" + legend + axis + body + "</svg>\n";
  if (!html) return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + svg;
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"/><title>BaseComms timeline</title></head><body>\n" +
         svg + "</body></html>\n";
}
