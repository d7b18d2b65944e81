#include "frame/hooks.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace marlo {

namespace {

#if defined(_WIN32)

// On Windows the hooks default to the platform's own: the system wait cursor while a long filter
// runs, and a modal message box for the messages.

// The cursor belongs to the calling thread, so what it showed before is kept per thread. Only the
// outermost busy period of a thread changes the cursor, so nested periods restore the right one.
thread_local int t_busyDepth = 0;
thread_local HCURSOR t_cursorBefore = nullptr;

void DefaultBusyHandler(int busy) {
  if (busy != 0) {
    if (t_busyDepth++ == 0) {
      // IDC_WAIT (32514), spelled out so that it is the ANSI form whatever UNICODE says.
      t_cursorBefore = SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));
    }
  } else if (t_busyDepth > 0 && --t_busyDepth == 0) {
    SetCursor(t_cursorBefore);
    t_cursorBefore = nullptr;
  }
}

// A modal box with an OK button and the exclamation icon. It belongs to the thread's active window
// when there is one (MB_APPLMODAL), else it disables every window of the thread (MB_TASKMODAL).
// Its caption is the host program's name: its file name without folder and extension.
void DefaultMessageHandler(const char* text) {
  char caption[MAX_PATH + 1] = {};
  const char* title = nullptr;  // "Error" when the name cannot be had
  const DWORD length = GetModuleFileNameA(nullptr, caption, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    char* name = caption;
    for (char* p = caption; *p != '\0'; ++p) {
      if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    }
    if (char* dot = std::strrchr(name, '.')) *dot = '\0';
    if (*name != '\0') title = name;
  }
  HWND owner = GetActiveWindow();
  const UINT modality = owner != nullptr ? MB_APPLMODAL : MB_TASKMODAL;
  MessageBoxA(owner, text != nullptr ? text : "", title, MB_OK | MB_ICONEXCLAMATION | modality);
}

std::atomic<MarloMessageHandler> g_messageHandler{&DefaultMessageHandler};
std::atomic<MarloBusyHandler> g_busyHandler{&DefaultBusyHandler};

#else

void DefaultMessageHandler(const char* text) {
  std::fprintf(stderr, "%s\n", text != nullptr ? text : "");
}

std::atomic<MarloMessageHandler> g_messageHandler{&DefaultMessageHandler};
std::atomic<MarloBusyHandler> g_busyHandler{nullptr};

#endif

}  // namespace

BusyScope::BusyScope(bool active) : handler_(active ? g_busyHandler.load() : nullptr) {
  if (handler_ != nullptr) handler_(1);
}

BusyScope::~BusyScope() {
  if (handler_ != nullptr) handler_(0);
}

void ShowMessage(const char* text) {
  MarloMessageHandler handler = g_messageHandler.load();
  if (handler != nullptr) handler(text);
}

}  // namespace marlo

extern "C" {

MarloMessageHandler MarloSetMessageHandler(MarloMessageHandler handler) {
  return marlo::g_messageHandler.exchange(handler != nullptr ? handler
                                                             : &marlo::DefaultMessageHandler);
}

MarloBusyHandler MarloSetBusyHandler(MarloBusyHandler handler) {
  return marlo::g_busyHandler.exchange(handler);
}

}  // extern "C"
