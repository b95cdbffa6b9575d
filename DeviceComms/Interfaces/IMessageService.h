// IMessageService.h: the protocol work of one command, provided by plug-ins.
//
// A message service carries out one device message, or several it has
// absorbed. Its class lives in a plug-in module and is created through the
// class loader; the component calls it only through this abstract class and
// deletes it through the virtual destructor (there is no reference count).
// Each service belongs to one component, which calls it under its component
// lock. Lists are the caller's; a service only appends to them.
#pragma once

#include <list>

#include "Interfaces/DeviceConfig.h"
#include "Interfaces/DeviceMessages.h"
#include "Interfaces/DeviceResults.h"
#include "Interfaces/Protocol.h"

class IMessageService {
 public:
  virtual ~IMessageService() = default;

  // Prepares the service for `message`. False: the service is deleted at once.
  virtual bool InitialiseService(ITARVO_DeviceMessage* message, ITARVO_DeviceConfig* deviceConfig) = 0;
  // Withdraws `message`; returns its cancel result (one reference) or null.
  virtual ITARVO_DeviceResult* CancelDeviceMessage(ITARVO_DeviceMessage* message) = 0;
  // Appends every device message the service serves (no references).
  virtual void GetDeviceMessages(std::list<const ITARVO_DeviceMessage*>& messages) = 0;
  // True when the service may be deleted.
  virtual bool IsFinished() = 0;
  // True when the service does the work of `message`.
  virtual bool HasDeviceMessage(const ITARVO_DeviceMessage* message) = 0;
  // True when ConcatenateService may be tried with this service.
  virtual bool CanConcatenate() = 0;
  // Takes over `other`'s work; true when joined. Results appended to
  // `results` (one reference each) are delivered at once.
  virtual bool ConcatenateService(std::list<ITARVO_DeviceResult*>& results, IMessageService* other) = 0;
  // The next protocol message (one reference) or null. With null and
  // *isServiceComplete true the service finished with nothing to send.
  virtual ITARVO_ProtocolMessage* CreateProtocolMessage(std::list<ITARVO_DeviceResult*>& results,
                                                        bool* isServiceComplete, bool* allowParallel) = 0;
  // Turns a response into results. False: error results for all its messages.
  virtual bool ProcessResponse(std::list<ITARVO_DeviceResult*>& results, bool& serviceComplete,
                               bool& transferComplete, ITARVO_ProtocolMessage* response) = 0;
  // True when the response to `message` is this service's.
  virtual bool IsOwnProtocolMessage(ITARVO_ProtocolMessage* message) = 0;
  // True when the service first waits in the time-watch queue.
  virtual bool NeedsTimeWatch() = 0;
  // True when its waiting time is over at `tickCount` (GetTickCount).
  virtual bool IsTimeUp(DWORD tickCount) = 0;
  // True when the service is refused with QTM_E_LOCKED while exclusive mode is 1.
  virtual bool IsForbiddenOnLocked() = 0;
  // 0 normal, 1 urgent.
  virtual int GetPriority() = 0;
};
