// ParallelCommunication: the send thread and the time-watch thread.
#include "BaseComms/ParallelCommunication.h"

void ParallelCommunication::RequestSendMessage(ITARVO_ProtocolMessage*) {}
bool ParallelCommunication::SendMessage(ITARVO_ProtocolMessage*) { return false; }
DWORD ParallelCommunication::MessageSendRoutine(LPVOID) { return 0; }
DWORD ParallelCommunication::TimeWatchRoutine(LPVOID) { return 0; }
void ParallelCommunication::PollTimeUpService(DWORD) {}
