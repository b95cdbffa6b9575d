// Timeline.h: a picture of a traced run, as a self-contained SVG (or an HTML
// page holding it; no scripts, no network).
//
// One lane per target and component (labelled with the target, the
// component's address and its configuration text); each request is a bar
// from its start to its final result (to the end of the trace while it still
// runs), its waits drawn over it in the colour of their reason; an error
// result gives the bar a red outline, a cancellation a dashed one. A legend
// and a time axis in ms from the first line complete it. Requests stack in
// rows within their lane where they overlap.
//
// Thread-safety: a pure function of the model.
#pragma once

#include <string>

#include "TraceModel.h"

std::string RenderTimeline(const TraceModel& model, bool html);
