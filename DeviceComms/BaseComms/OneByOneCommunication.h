// OneByOneCommunication.h: a component whose target runs one message at a time.
//
// The same component as ParallelCommunication, registered with the default
// transfer mode 0 (one by one); its SetTransferMode accepts every request and
// changes nothing. Adds no members; ownership and threads as in the base.
#pragma once

#include "BaseComms/ParallelCommunication.h"

class OneByOneCommunication : public ParallelCommunication {
 public:
  // A new component, or null when the allocation gives nothing.
  BASECOMMS_API static ParallelCommunication* CreateInstance();

  OneByOneCommunication();
  ~OneByOneCommunication() override;

 protected:
  HRESULT SetTransferMode(tagTransferMode mode) override;
};
