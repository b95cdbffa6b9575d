#include "Platform/MessageBox.h"

#include <atomic>
#include <cstdio>

namespace {

int WriteToStandardError(HWND, LPCSTR text, LPCSTR caption, UINT) {
  std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
  return IDOK;
}

std::atomic<MessageBoxHandler> g_handler{&WriteToStandardError};

}  // namespace

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  return g_handler.load()(owner, text, caption, type);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  MessageBoxHandler previous = g_handler.exchange(handler != nullptr ? handler : &WriteToStandardError);
  return previous == &WriteToStandardError ? nullptr : previous;
}
