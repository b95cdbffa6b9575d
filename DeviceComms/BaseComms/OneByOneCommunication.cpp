#include "BaseComms/OneByOneCommunication.h"

#include <new>

ParallelCommunication* OneByOneCommunication::CreateInstance() { return new (std::nothrow) OneByOneCommunication(); }

OneByOneCommunication::OneByOneCommunication() { SetDefaultTransferMode(TRANSFER_MODE_ONE_BY_ONE); }

OneByOneCommunication::~OneByOneCommunication() = default;

// A one-by-one component stays one by one: every request is accepted and
// nothing changes.
HRESULT OneByOneCommunication::SetTransferMode(tagTransferMode) { return S_OK; }
