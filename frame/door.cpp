#include "frame/door.h"

#include "frame/rows.h"

namespace marlo {

namespace {

Status PrepareDestination(Kasa& src, Kasa* dst, Destination treatment) {
  if (dst == nullptr) return Status::Refused;
  if (treatment == Destination::CreatedWhenEmpty && dst->IsEmpty()) {
    return dst->CreateImage(src.GetImageType(), src.GetImageWidth(), src.GetImageHeight(), 0,
                            nullptr, 0, 0, 15, 0, 0)
               ? Status::Ok
               : Status::NoMemory;
  }
  if (dst->IsEmpty()) return Status::Refused;
  const bool sameType = dst->GetImageType() == src.GetImageType();
  switch (treatment) {
    case Destination::CreatedWhenEmpty:
    case Destination::SameAsSource:
      return SameGeometry(src, *dst) ? Status::Ok : Status::Refused;
    case Destination::CoversSource:
      return sameType && dst->GetImageWidth() >= src.GetImageWidth() &&
                     dst->GetImageHeight() >= src.GetImageHeight()
                 ? Status::Ok
                 : Status::Refused;
    case Destination::SameType:
      return sameType ? Status::Ok : Status::Refused;
    case Destination::CopyOfSource:
      return Status::Ok;
  }
  return Status::Refused;
}

}  // namespace

Status Admit(Kasa* src, Kasa* dst, const Door& door) {
  if (src == nullptr || src->IsEmpty() || !door.accepts(src->GetImageType())) {
    return Status::Refused;
  }
  return PrepareDestination(*src, dst, door.destination);
}

Entry::Entry(Kasa* src, Kasa* dst, const Door& door, Status status)
    : status_(status), busy_(door.busy && status == Status::Ok), src_(src), dst_(dst) {
  if (status != Status::Ok || door.destination != Destination::CopyOfSource || src == dst) return;
  if (SameGeometry(*src, *dst)) {
    nextRow_ = 0;
  } else {
    rebuild_ = true;
  }
}

bool Entry::StartCopy() {
  if (!rebuild_) return true;
  rebuild_ = false;
  return dst_->GenerateImage(src_, 15, 0, 0) != 0;
}

void Entry::CopyRowsThrough(int64_t y) {
  const int64_t height = src_ != nullptr ? src_->GetImageHeight() : 0;
  for (; nextRow_ <= y && nextRow_ < height; ++nextRow_) {
    CopyRow(*src_, *dst_, static_cast<int32_t>(nextRow_));
  }
}

void Entry::CopyRemainingRows() {
  CopyRowsThrough(INT64_MAX - 1);
}

}  // namespace marlo
