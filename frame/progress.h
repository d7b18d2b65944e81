// The progress meter of the per-row protocol, shared by every filter that reports progress.
#ifndef MARLO_FRAME_PROGRESS_H
#define MARLO_FRAME_PROGRESS_H

#include <cstdint>

#include "frame/types.h"

namespace marlo {

// All arithmetic follows the protocol exactly: position is a 32-bit integer, accumulator and
// step are single-precision floats.
class Progress {
 public:
  // rows: the number of rows the worker walks (the divisor of the step).
  Progress(ProgressCallback callback, int32_t start, int32_t end, int32_t rows);

  // Opening report (start, end, start); its result is ignored.
  void Begin();
  // Once per row. Returns false when the callback asked to abort.
  bool Step();
  // Closing report (start, end, end) unless the last report already gave end.
  void Finish();

  bool active() const { return callback_ != nullptr; }
  int32_t position() const { return position_; }

 private:
  ProgressCallback callback_;
  int32_t start_;
  int32_t end_;
  int32_t position_;
  float accumulator_;
  float step_;
};

}  // namespace marlo

#endif  // MARLO_FRAME_PROGRESS_H
