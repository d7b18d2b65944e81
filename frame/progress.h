// The progress meter, shared by every filter that reports progress: the per-row protocol, and
// the reports of the filters that have rules of their own.
//
// A callback may do anything, also re-create the source or the destination at another size or
// type. So after every report, whatever the filter makes of its answer, the meter checks that
// both images still have the type, width and height they had when it was made; if not, the run
// stops with Status::Changed, reading and writing nothing more. The one exception is red-eye
// removal on 24-bit RGB, which reports once per pixel: it checks once after the reports of
// each row, before it writes that row (a check per pixel would cost several times the filter).
#ifndef MARLO_FRAME_PROGRESS_H
#define MARLO_FRAME_PROGRESS_H

#include <cstdint>

#include "frame/types.h"

namespace marlo {

// All arithmetic follows the protocol exactly: position is a 32-bit integer, accumulator and
// step are single-precision floats.
class Progress {
 public:
  // rows: the number of rows the worker walks (the divisor of the step). src and dst: the
  // images of the run (either may be null).
  Progress(ProgressCallback callback, int32_t start, int32_t end, int32_t rows,
           const Kasa* src = nullptr, const Kasa* dst = nullptr);

  // Opening report (start, end, start); its result is ignored. Ok, or Changed.
  Status Begin();
  // Once per row. False when the run must stop; status() says why: Aborted when the callback
  // asked, Changed when an image changed.
  bool Step();
  // True when the next Step would call the callback (it changes nothing).
  bool StepCalls() const { return callback_ != nullptr && Due(Advanced()) > position_; }
  // Closing report (start, end, end) unless the last report already gave end. Ok, or Changed.
  Status Finish();
  // A report by a filter's own rule, (start, end, current); its result is ignored. False when
  // an image changed.
  bool Report(int32_t current);
  // The same report without the check, and the check alone (false when an image changed), for
  // reports made between two accesses to the images.
  void ReportUnchecked(int32_t current) {
    if (callback_ != nullptr) callback_(start_, end_, current);
  }
  bool Unchanged();

  Status status() const { return status_; }
  bool active() const { return callback_ != nullptr; }
  int32_t position() const { return position_; }
  int32_t end() const { return end_; }

 private:
  struct Shape {
    int type;
    int32_t width;
    int32_t height;
  };
  static Shape ShapeOf(const Kasa* image);
  // The accumulator after one more step, and the value a step that reaches it reports (a value
  // not above position_ when it reports nothing).
  float Advanced() const { return static_cast<float>(accumulator_ + step_); }
  int32_t Due(float accumulator) const;
  // Calls the callback and checks the images; returns its answer.
  int32_t Call(int32_t current);

  ProgressCallback callback_;
  int32_t start_;
  int32_t end_;
  int32_t position_;
  float accumulator_;
  float step_;
  const Kasa* images_[2];
  Shape shapes_[2];
  Status status_ = Status::Ok;
};

}  // namespace marlo

#endif  // MARLO_FRAME_PROGRESS_H
