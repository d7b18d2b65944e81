// The host hooks: the busy handler (a wait cursor) and the message handler (a message box).
#ifndef MARLO_FRAME_HOOKS_H
#define MARLO_FRAME_HOOKS_H

#include "marlo.h"

namespace marlo {

// Calls the busy handler with 1 on construction and 0 on destruction (the wait cursor); an
// inactive scope calls nothing.
class BusyScope {
 public:
  explicit BusyScope(bool active = true);
  ~BusyScope();
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  MarloBusyHandler handler_;
};

// Hands a message to the message handler (the message box).
void ShowMessage(const char* text);

}  // namespace marlo

#endif  // MARLO_FRAME_HOOKS_H
