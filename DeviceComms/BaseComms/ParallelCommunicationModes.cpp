// ParallelCommunication: modes, runtime information and service information.
#include "BaseComms/ParallelCommunication.h"

HRESULT ParallelCommunication::SetMode(const wchar_t*, LONG) { return E_NOTIMPL; }
HRESULT ParallelCommunication::GetMode(const wchar_t*, LONG*) { return E_NOTIMPL; }
HRESULT ParallelCommunication::ChangeRuntimeInformation(const wchar_t*) { return E_NOTIMPL; }
HRESULT ParallelCommunication::GetServiceInformation(const wchar_t*, TARVO_ServiceInformation*) { return E_NOTIMPL; }
HRESULT ParallelCommunication::SetTransferMode(tagTransferMode) { return E_NOTIMPL; }
HRESULT ParallelCommunication::SetExclusiveMode(tagExclusiveMode) { return E_NOTIMPL; }
HRESULT ParallelCommunication::GetExclusiveMode(tagExclusiveMode*) { return E_NOTIMPL; }
