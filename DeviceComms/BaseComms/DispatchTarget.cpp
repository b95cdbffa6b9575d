#include "BaseComms/DispatchTarget.h"

DispatchTarget::DispatchTarget(ParallelCommunication*, ITARVO_DeviceConfig*, int transferMode, int)
    : m_baseTransferMode(transferMode), m_targetMode(transferMode) {}
DispatchTarget::~DispatchTarget() = default;
bool DispatchTarget::IsSameTarget(const std::wstring&) { return false; }
bool DispatchTarget::Join(ParallelCommunication*, ITARVO_DeviceConfig*, int, int) { return false; }
bool DispatchTarget::Contains(ParallelCommunication*) const { return false; }
bool DispatchTarget::Leave(int&, int&, ITARVO_DeviceConfig*&, ParallelCommunication*) { return false; }
void DispatchTarget::QueueTurn(ParallelCommunication*) {}
ParallelCommunication* DispatchTarget::TakeNextTurn() { return nullptr; }
int DispatchTarget::RemoveTurns(ParallelCommunication*) { return 0; }
unsigned int DispatchTarget::TurnCount() const { return 0; }
bool DispatchTarget::SetTransferMode(int, IMessageService*, ParallelCommunication*) { return false; }
bool DispatchTarget::IsParallelAvailable() const { return false; }
bool DispatchTarget::SetExclusiveMode(int, ParallelCommunication*) { return false; }
bool DispatchTarget::IsCommunicating() const { return false; }
unsigned int DispatchTarget::CountCommunicating() const { return 0; }
