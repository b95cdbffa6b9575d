#include "BaseComms/CommunicationDispatcher.h"

#include "BaseComms/DispatchTarget.h"

CommunicationDispatcher* CommunicationDispatcher::GetInstance() {
  static CommunicationDispatcher* instance = new CommunicationDispatcher();
  return instance;
}

CommunicationDispatcher::CommunicationDispatcher() : m_pTargets(new std::map<LONG, DispatchTarget*>) {
  InitializeCriticalSection(&m_dispatchLock);
}

CommunicationDispatcher::~CommunicationDispatcher() {
  for (auto& entry : *m_pTargets) delete entry.second;
  delete m_pTargets;
  DeleteCriticalSection(&m_dispatchLock);
}

bool CommunicationDispatcher::RegisterDevice(LONG&, ParallelCommunication*, ITARVO_DeviceConfig*, int) {
  return m_nextKey < 0;
}
bool CommunicationDispatcher::UnregisterDevice(LONG, ParallelCommunication*) { return false; }
bool CommunicationDispatcher::ReRegisterDevice(LONG&, LONG, ParallelCommunication*, ITARVO_DeviceConfig*, int) {
  return false;
}
bool CommunicationDispatcher::SetTargetTransferMode(int, LONG) { return false; }
bool CommunicationDispatcher::SetExclusiveMode(int, LONG, ParallelCommunication*) { return false; }
bool CommunicationDispatcher::SetTransferMode(int, IMessageService*, LONG, ParallelCommunication*) { return false; }
bool CommunicationDispatcher::DispatchService(bool& nowSend, bool& isServiceComplete, IMessageService*,
                                              ParallelCommunication*, LONG) {
  nowSend = false;
  isServiceComplete = false;
  return false;
}
void CommunicationDispatcher::DispatchNextService(LONG) {}
IMessageService* CommunicationDispatcher::CompleteResponse(std::list<ITARVO_DeviceResult*>&, bool& dispatchAgain,
                                                           bool&, bool&, std::list<const ITARVO_DeviceMessage*>&,
                                                           ITARVO_ProtocolMessage*, ParallelCommunication*, LONG) {
  dispatchAgain = false;
  return nullptr;
}
bool CommunicationDispatcher::IsParallelAvailable(IMessageService*& simplexService, LONG) {
  simplexService = nullptr;
  return false;
}
int CommunicationDispatcher::GetBaseTransferMode(LONG) { return 0; }
bool CommunicationDispatcher::IsCommunicating(bool& communicating, LONG) {
  communicating = false;
  return false;
}
bool CommunicationDispatcher::CountCommunicating(unsigned int& count, LONG) {
  count = 0;
  return false;
}
bool CommunicationDispatcher::TurnCount(unsigned int& count, LONG) {
  count = 0;
  return false;
}
bool CommunicationDispatcher::QueueTurn(LONG, ParallelCommunication*) { return false; }
bool CommunicationDispatcher::TakeNextTurn(ParallelCommunication*& component, LONG) {
  component = nullptr;
  return false;
}
DispatchTarget* CommunicationDispatcher::FindTarget(LONG key) {
  auto it = m_pTargets->find(key);
  return it == m_pTargets->end() ? nullptr : it->second;
}
