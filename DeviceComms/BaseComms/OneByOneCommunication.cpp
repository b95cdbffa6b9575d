#include "BaseComms/OneByOneCommunication.h"

#include <new>

// Null, never an exception, as ParallelCommunication::CreateInstance.
ParallelCommunication* OneByOneCommunication::CreateInstance() {
  try {
    return new (std::nothrow) OneByOneCommunication();
  } catch (...) {
    return nullptr;
  }
}

OneByOneCommunication::OneByOneCommunication() { SetDefaultTransferMode(TRANSFER_MODE_ONE_BY_ONE); }

OneByOneCommunication::~OneByOneCommunication() = default;

// A one-by-one component stays one by one: every request is accepted and
// nothing changes.
HRESULT OneByOneCommunication::SetTransferMode(tagTransferMode) { return S_OK; }
