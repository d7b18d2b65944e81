#include "frame/progress.h"

namespace marlo {

Progress::Progress(ProgressCallback callback, int32_t start, int32_t end, int32_t rows)
    : callback_(callback),
      start_(start),
      end_(end),
      position_(start),
      accumulator_(static_cast<float>(start)),
      step_(0.0f) {
  // (end - start - 1) converted to single precision and divided by the row count; the quotient
  // is stored in single precision. The difference is formed in 64 bits: for ranges that do not
  // fit 32 bits a wrapped difference would turn a falling range into a rising one.
  const int64_t range = static_cast<int64_t>(end) - static_cast<int64_t>(start) - 1;
  const float divisor = static_cast<float>(rows);
  step_ = static_cast<float>(static_cast<float>(range) / divisor);
}

void Progress::Begin() {
  if (callback_ != nullptr) callback_(start_, end_, start_);
}

bool Progress::Step() {
  if (callback_ == nullptr) return true;
  accumulator_ = static_cast<float>(accumulator_ + step_);
  const float next = static_cast<float>(static_cast<int64_t>(position_) + 1);
  if (next < accumulator_) {
    // The truncated accumulator, capped at end. Values beyond the 32-bit range are above end.
    int32_t current = end_;
    if (accumulator_ < 2147483648.0f) {
      const int64_t t = static_cast<int64_t>(accumulator_);
      if (t < end_) current = static_cast<int32_t>(t);
    }
    // Once the cap has reported end, rounding drift of the accumulator over very many rows must
    // not report end again: every report is above the one before.
    if (current <= position_) return true;
    position_ = current;
    if (callback_(start_, end_, current) != 0) return false;
  }
  return true;
}

void Progress::Finish() {
  if (callback_ != nullptr && position_ != end_) callback_(start_, end_, end_);
}

}  // namespace marlo
