#include "frame/types.h"

namespace marlo {

bool IsSupportedType(int type) {
  return type == static_cast<int>(ImageType::Gray8) || type == static_cast<int>(ImageType::Rgb24) ||
         type == static_cast<int>(ImageType::Gray16) || type == static_cast<int>(ImageType::Rgb48);
}

bool IsColorType(int type) {
  return type == static_cast<int>(ImageType::Rgb24) || type == static_cast<int>(ImageType::Rgb48);
}

bool SameGeometry(const Kasa& a, const Kasa& b) {
  return !a.IsEmpty() && !b.IsEmpty() && a.GetImageType() == b.GetImageType() &&
         a.GetImageWidth() == b.GetImageWidth() && a.GetImageHeight() == b.GetImageHeight();
}

void SwapSampleBytes(void* sample, uint16_t size) {
  auto* b = static_cast<uint8_t*>(sample);
  if (size == 2) {
    const uint8_t t = b[0];
    b[0] = b[1];
    b[1] = t;
  } else if (size == 4) {
    uint8_t t = b[0];
    b[0] = b[3];
    b[3] = t;
    t = b[1];
    b[1] = b[2];
    b[2] = t;
  }
}

}  // namespace marlo
