#include "frame/progress.h"

namespace marlo {

Progress::Progress(ProgressCallback callback, int32_t start, int32_t end, int32_t rows,
                   const Kasa* src, const Kasa* dst)
    : callback_(callback),
      start_(start),
      end_(end),
      position_(start),
      accumulator_(static_cast<float>(start)),
      step_(0.0f),
      images_{src, dst},
      shapes_{ShapeOf(src), ShapeOf(dst)} {
  // (end - start - 1) converted to single precision and divided by the row count; the quotient
  // is stored in single precision. The difference is formed in 64 bits: for ranges that do not
  // fit 32 bits a wrapped difference would turn a falling range into a rising one.
  const int64_t range = static_cast<int64_t>(end) - static_cast<int64_t>(start) - 1;
  const float divisor = static_cast<float>(rows);
  step_ = static_cast<float>(static_cast<float>(range) / divisor);
}

Progress::Shape Progress::ShapeOf(const Kasa* image) {
  if (image == nullptr) return Shape{0, 0, 0};
  return Shape{image->GetImageType(), image->GetImageWidth(), image->GetImageHeight()};
}

int32_t Progress::Call(int32_t current) {
  const int32_t answer = callback_(start_, end_, current);
  Unchanged();
  return answer;
}

bool Progress::Unchanged() {
  for (int i = 0; i < 2; ++i) {
    const Shape now = ShapeOf(images_[i]);
    if (now.type != shapes_[i].type || now.width != shapes_[i].width ||
        now.height != shapes_[i].height) {
      status_ = Status::Changed;
    }
  }
  return status_ != Status::Changed;
}

Status Progress::Begin() {
  if (callback_ != nullptr) Call(start_);
  return status_;
}

int32_t Progress::Due(float accumulator) const {
  const float next = static_cast<float>(static_cast<int64_t>(position_) + 1);
  if (!(next < accumulator)) return position_;
  // The truncated accumulator, capped at end. Values beyond the 32-bit range are above end.
  int32_t current = end_;
  if (accumulator < 2147483648.0f) {
    const int64_t t = static_cast<int64_t>(accumulator);
    if (t < end_) current = static_cast<int32_t>(t);
  }
  return current;
}

bool Progress::Step() {
  if (callback_ == nullptr) return true;
  accumulator_ = Advanced();
  const int32_t current = Due(accumulator_);
  // Once the cap has reported end, rounding drift of the accumulator over very many rows must
  // not report end again: every report is above the one before.
  if (current <= position_) return true;
  position_ = current;
  const int32_t answer = Call(current);
  if (status_ != Status::Ok) return false;
  if (answer != 0) {
    status_ = Status::Aborted;
    return false;
  }
  return true;
}

Status Progress::Finish() {
  if (callback_ != nullptr && position_ != end_) Call(end_);
  return status_;
}

bool Progress::Report(int32_t current) {
  if (callback_ != nullptr) Call(current);
  return status_ == Status::Ok;
}

}  // namespace marlo
