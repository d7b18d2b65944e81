// Saturation on 24-bit and 48-bit RGB.
#include "colour/saturation.h"

#include <vector>

#include "colour/colour_model.h"
#include "frame/entries.h"

namespace marlo {

namespace {

template <class D>
Status SaturateImage(Kasa* src, Kasa* dst, int32_t amount, ProgressCallback cb, int32_t start,
                     int32_t end) {
  using Sample = typename D::Sample;
  const size_t width = static_cast<size_t>(src->GetImageWidth());
  const int32_t height = src->GetImageHeight();
  std::vector<Sample> row = AllocateRow<D>(*src);
  Progress progress(cb, start, end, height);
  progress.Begin();
  for (int32_t y = 0; y < height; ++y) {
    ReadRow<D>(*src, y, row.data());
    if (!progress.Step()) return Status::Aborted;  // after reading, before transforming
    Sample* p = row.data();
    for (size_t x = 0; x < width; ++x, p += 3) {
      // Stored order blue, green, red.
      ScaleSaturation<D>(&p[2], &p[1], &p[0], amount);
    }
    WriteRow<D>(*dst, y, row.data());
  }
  progress.Finish();
  return Status::Ok;
}

}  // namespace

Status SaturateImage8(Kasa* src, Kasa* dst, int32_t amount, ProgressCallback cb, int32_t start,
                      int32_t end) {
  return SaturateImage<Depth8>(src, dst, amount, cb, start, end);
}

Status SaturateImage16(Kasa* src, Kasa* dst, int32_t amount, ProgressCallback cb, int32_t start,
                       int32_t end) {
  return SaturateImage<Depth16>(src, dst, amount, cb, start, end);
}

int CSaturation::SetParameters(const int32_t* amount) {
  amount_ = *amount;
  return 1;
}

Status CSaturation::Run(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start, int32_t end) {
  const Status prepared = PrepareDestination(src, dst, &IsColorType);
  if (prepared != Status::Ok) return prepared;
  BusyScope busy;
  if (src->GetImageType() == static_cast<int>(ImageType::Rgb24)) {
    SaturateImage8(src, dst, amount_, cb, start, end);
  } else {
    SaturateImage16(src, dst, amount_, cb, start, end);
  }
  return Status::Ok;  // also when the caller aborted
}

namespace entry {

int32_t Saturation(Kasa* src, Kasa* dst, int32_t amount, ProgressCallback cb, int32_t start,
                   int32_t end) {
  CSaturation filter;
  if (!filter.SetParameters(&amount)) return 0;
  return filter.Run(src, dst, cb, start, end) == Status::Ok ? 1 : 0;
}

}  // namespace entry

}  // namespace marlo
