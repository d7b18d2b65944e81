// The front door of every filter's run: the check of the source, the treatment of the
// destination and the busy hook, in one call (Enter), and the run of the wait-cursor filters
// built on it (RunWithWaitCursor).
#ifndef MARLO_FRAME_DOOR_H
#define MARLO_FRAME_DOOR_H

#include <cstdint>

#include "frame/hooks.h"
#include "frame/types.h"

namespace marlo {

// What a filter requires of its destination, and what is done to it before the work.
enum class Destination {
  // Created with the source's type and size when empty; one that is not empty must have the
  // source's type, width and height (it would receive rows of another layout).
  CreatedWhenEmpty,
  // Must hold an image of the source's type, width and height.
  SameAsSource,
  // Must hold an image of the source's type, at least as wide and as high as the source; the
  // source's positions are written, so a larger one keeps the rest.
  CoversSource,
  // Must hold an image of the source's type, of any size.
  SameType,
  // Must hold an image; when it is another object than the source it becomes a copy of the
  // source before the work (see Entry).
  CopyOfSource,
};

struct Door {
  Destination destination;
  bool (*accepts)(int type);  // the source types the run takes
  bool busy = false;          // the busy hook (the wait cursor) is called around the run
};

// The outcome of the front door. When it is Ok and the door asks for it, the busy handler has
// been called with 1; it is called with 0 when the Entry goes.
class Entry {
 public:
  // Made by Enter only.
  Entry(Kasa* src, Kasa* dst, const Door& door, Status status);
  Entry(const Entry&) = delete;
  Entry& operator=(const Entry&) = delete;

  Status status() const { return status_; }
  explicit operator bool() const { return status_ == Status::Ok; }

  // CopyOfSource. A destination of another type or size is rebuilt as a copy of the source by
  // StartCopy (false, and the destination unchanged, when memory is short), which the filter
  // calls once it holds its work memory and before its first report. A destination of the
  // source's type and size instead receives the source's rows as the filter reaches them: rows
  // up to and including y by CopyRowsThrough(y), the rest by CopyRemainingRows; so each row
  // goes out to memory once and nothing is allocated. In place nothing is copied.
  bool StartCopy();
  void CopyRowsThrough(int64_t y);
  void CopyRemainingRows();

 private:
  Status status_;
  BusyScope busy_;
  Kasa* src_;
  Kasa* dst_;
  bool rebuild_ = false;         // StartCopy rebuilds the destination
  int64_t nextRow_ = INT64_MAX;  // the first row not yet copied
};

// The source and destination checks of a door (steps 2 and 3 of Enter).
Status Admit(Kasa* src, Kasa* dst, const Door& door);

// The front door of a run, in this order:
//   1. opening(), when given: what the filter does before it looks at its images (the opening
//      progress report of auto exposure, despeckle and image focus); a result other than
//      Status::Ok stops the run with that result;
//   2. the source must not be null or empty and must have a type door.accepts takes: else
//      Refused;
//   3. the destination gets its treatment: Refused when it does not qualify, NoMemory when an
//      empty one cannot be created;
//   4. the busy hook, when the door asks for it.
// Nothing is written to either image unless the Entry is Ok.
template <class Opening>
Entry Enter(Kasa* src, Kasa* dst, const Door& door, Opening&& opening) {
  Status status = opening();
  if (status == Status::Ok) status = Admit(src, dst, door);
  return Entry(src, dst, door, status);
}

inline Entry Enter(Kasa* src, Kasa* dst, const Door& door) {
  return Entry(src, dst, door, Admit(src, dst, door));
}

// The run of the wait-cursor filters (contrast and brightness, saturation, HSL enhancement,
// tint removal, red-eye removal): an empty destination is created, the busy hook is called
// around the worker of the source's depth, and a run the caller aborted through the callback
// still counts as done.
template <class Worker>
Status RunWithWaitCursor(Kasa* src, Kasa* dst, bool (*accepts)(int type), Worker&& worker) {
  const Entry entry = Enter(src, dst, Door{Destination::CreatedWhenEmpty, accepts, true});
  if (!entry) return entry.status();
  const Status status = ForDepth(src->GetImageType(), worker);
  return status == Status::Aborted ? Status::Ok : status;
}

}  // namespace marlo

#endif  // MARLO_FRAME_DOOR_H
