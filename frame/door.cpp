#include "frame/door.h"

namespace marlo {

Status PrepareDestination(Kasa* src, Kasa* dst, bool (*accepts)(int type)) {
  if (src == nullptr || dst == nullptr || src->IsEmpty() || !accepts(src->GetImageType())) {
    return Status::Refused;
  }
  if (dst->IsEmpty()) {
    if (!dst->CreateImage(src->GetImageType(), src->GetImageWidth(), src->GetImageHeight(), 0,
                          nullptr, 0, 0, 15, 0, 0)) {
      return Status::NoMemory;
    }
    return Status::Ok;
  }
  return SameGeometry(*src, *dst) ? Status::Ok : Status::Refused;
}

Status CheckCoveringDestination(const Kasa* src, const Kasa* dst) {
  if (src == nullptr || dst == nullptr || src->IsEmpty() || dst->IsEmpty()) {
    return Status::Refused;
  }
  if (dst->GetImageType() != src->GetImageType() || dst->GetImageWidth() < src->GetImageWidth() ||
      dst->GetImageHeight() < src->GetImageHeight()) {
    return Status::Refused;
  }
  return Status::Ok;
}

}  // namespace marlo
