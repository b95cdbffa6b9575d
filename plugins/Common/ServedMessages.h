// ServedMessages.h: the device messages one message service serves.
//
// One at the start, more once the service absorbed equal services; each with
// one reference of the service's own, released when the object goes. A
// cancelled message stays in the list (a response already on the line still
// answers it; the component no longer delivers for it) but is no longer
// served or listed. Makes the services' device results.
//
// Threads: none of its own; the component calls its services under the
// component lock only.
#pragma once

#include <list>
#include <vector>

#include "Interfaces/DeviceMessages.h"
#include "Interfaces/DeviceResults.h"

namespace plugincommon {

class ServedMessages {
 public:
  ServedMessages() = default;
  ~ServedMessages();
  ServedMessages(const ServedMessages&) = delete;
  ServedMessages& operator=(const ServedMessages&) = delete;

  // Takes `message` on with a reference of its own, taken only once the list
  // holds it (an append that throws keeps none).
  void Add(ITARVO_DeviceMessage* message);
  bool Empty() const { return m_messages.empty(); }
  // Served: taken on and not cancelled.
  bool Has(const ITARVO_DeviceMessage* message) const;
  // Appends the served ones.
  void List(std::list<const ITARVO_DeviceMessage*>& messages) const;
  // Marks a served message cancelled and gives its complete QTM_E_ERROR
  // result; null when it is not served.
  ITARVO_DeviceResult* Cancel(ITARVO_DeviceMessage* message);
  bool AllCancelled() const { return m_cancelled.size() == m_messages.size(); }
  // Takes over the messages of `other` (their references move), completely
  // or not at all; `other` has none afterwards.
  void TakeOver(ServedMessages& other);
  // Appends one complete result per message taken on (cancelled ones
  // included); false, nothing appended, when one cannot be made.
  bool AnswerAll(std::list<ITARVO_DeviceResult*>& results, LONG resultCode, const std::vector<BYTE>& data) const;

  // A new complete device result for `message` (one reference), or null.
  static ITARVO_DeviceResult* MakeResult(ITARVO_DeviceMessage* message, LONG resultCode,
                                         const std::vector<BYTE>& data);

 private:
  std::vector<ITARVO_DeviceMessage*> m_messages;   // one reference each
  std::vector<ITARVO_DeviceMessage*> m_cancelled;  // those of m_messages cancelled
};

}  // namespace plugincommon
