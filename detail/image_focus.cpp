// Image focus (ImageFocus) on all four image types, also in place.
#include "detail/image_focus.h"

#include <algorithm>
#include <new>
#include <vector>

#include "frame/entries.h"

namespace marlo {

namespace {

// The filter for the samples of pixels 1 to width - 2 of one row. Acc is the signed type the
// fixed-point value is formed in: 32 bits whenever the largest |v| fits, 64 bits otherwise.
// Spp is the number of samples per pixel (1 or 3), a constant so that the loop vectorises.
template <class Acc, int Spp, class Sample>
void FilterInterior(const Sample* up, const Sample* cur, const Sample* down, Sample* out,
                    size_t samples, int32_t k, int32_t max) {
  const Acc gain = k;
  const Acc limit = static_cast<Acc>(max) * 1024;
  const Sample top = static_cast<Sample>(max);
  for (size_t i = Spp; i + Spp < samples; ++i) {
    const Acc x = cur[i];
    const Acc laplacian = 4 * x - static_cast<Acc>(cur[i - Spp]) - static_cast<Acc>(cur[i + Spp]) -
                          static_cast<Acc>(up[i]) - static_cast<Acc>(down[i]);
    const Acc v = x * 1024 + laplacian * gain + 512;
    out[i] = v < 0 ? Sample{0} : (v > limit ? top : static_cast<Sample>(v >> 10));
  }
}

// True when every v of a row fits in 32 bits: |v| <= max * 1024 + 4 * max * |k| + 512.
bool FitsInt32(int32_t k, int32_t max) {
  const int64_t magnitude = k < 0 ? -static_cast<int64_t>(k) : static_cast<int64_t>(k);
  const int64_t bound = int64_t{max} * 1024 + int64_t{4} * max * magnitude + 512;
  return bound <= INT32_MAX;
}

template <class D>
void FilterRow(const typename D::Sample* up, const typename D::Sample* cur,
               const typename D::Sample* down, typename D::Sample* out, size_t width, int spp,
               int32_t k) {
  const size_t samples = width * static_cast<size_t>(spp);
  // First and last pixel unchanged (the same pixel when the row is one pixel wide).
  std::copy(cur, cur + spp, out);
  std::copy(cur + samples - spp, cur + samples, out + samples - spp);
  const bool narrow = FitsInt32(k, D::kMax);
  if (spp == 3) {
    if (narrow) {
      FilterInterior<int32_t, 3>(up, cur, down, out, samples, k, D::kMax);
    } else {
      FilterInterior<int64_t, 3>(up, cur, down, out, samples, k, D::kMax);
    }
  } else {
    if (narrow) {
      FilterInterior<int32_t, 1>(up, cur, down, out, samples, k, D::kMax);
    } else {
      FilterInterior<int64_t, 1>(up, cur, down, out, samples, k, D::kMax);
    }
  }
}

template <class D>
Status FocusImage(Kasa* src, Kasa* dst, int16_t strength, ProgressCallback cb, int32_t start,
                  int32_t end, FocusRows<D>* given) {
  using Sample = typename D::Sample;
  const int32_t height = src != nullptr ? src->GetImageHeight() : 0;
  Progress progress(cb, start, end, height);
  progress.Begin();  // made before the images are looked at
  if (src == nullptr || !D::Accepts(src->GetImageType())) return Status::Refused;
  // A destination of another layout would receive rows it cannot hold.
  if (dst == nullptr || !SameGeometry(*src, *dst)) return Status::Refused;

  const size_t width = static_cast<size_t>(src->GetImageWidth());
  const int spp = SamplesPerPixel(*src);
  const int32_t k = FocusGain(strength);

  // Three source rows (above, current, below) that rotate, and the output row. The output's
  // padding samples of a 16-bit raw line stay zero, as in zero-initialised line memory.
  FocusRows<D> own;
  if (given == nullptr) {
    try {
      own = AllocateFocusRows<D>(*src);
    } catch (const std::bad_alloc&) {
      progress.Finish();
      return Status::NoMemory;
    }
  }
  FocusRows<D>& buffers = given != nullptr ? *given : own;
  Sample* above = buffers.rows[0].data();
  Sample* current = buffers.rows[1].data();
  Sample* below = buffers.rows[2].data();
  std::vector<Sample>& out = buffers.rows[3];
  const size_t rowSamples = buffers.rows[0].size();

  ReadRow<D>(*src, 0, current);
  std::copy(current, current + rowSamples, above);  // row 0 is its own upper neighbour
  if (height > 1) {
    ReadRow<D>(*src, 1, below);
  } else {
    std::copy(current, current + rowSamples, below);  // one row: its own lower neighbour too
  }
  for (int32_t y = 0; y < height; ++y) {
    if (y > 0) {
      Sample* const oldAbove = above;
      above = current;
      current = below;
      below = oldAbove;
      // Row y + 1 is read before row y is written, so the work may be done in place.
      if (y + 1 < height) {
        ReadRow<D>(*src, y + 1, below);
      } else {
        std::copy(current, current + rowSamples, below);
      }
    }
    FilterRow<D>(above, current, below, out.data(), width, spp, k);
    WriteRow<D>(*dst, y, out.data());
    if (!progress.Step()) return Status::Aborted;  // after the row is written
  }
  progress.Finish();
  return Status::Ok;
}

}  // namespace

template <class D>
FocusRows<D> AllocateFocusRows(const Kasa& image) {
  FocusRows<D> buffers;
  for (auto& row : buffers.rows) row = AllocateRow<D>(image);
  return buffers;
}

template FocusRows<Depth8> AllocateFocusRows<Depth8>(const Kasa&);
template FocusRows<Depth16> AllocateFocusRows<Depth16>(const Kasa&);

int16_t FocusStrengthFromArgument(int32_t argument) {
  const int32_t low = static_cast<int32_t>(static_cast<uint32_t>(argument) & 0xFFFFu);
  return static_cast<int16_t>(low >= 0x8000 ? low - 0x10000 : low);
}

int32_t FocusGain(int16_t strength) {
  const int32_t s = strength;
  return s >= 0 ? s * 2048 / 400 : s * 1024 / 400;
}

Status FocusImage8(Kasa* src, Kasa* dst, int16_t strength, ProgressCallback cb, int32_t start,
                   int32_t end, FocusRows<Depth8>* rows) {
  return FocusImage<Depth8>(src, dst, strength, cb, start, end, rows);
}

Status FocusImage16(Kasa* src, Kasa* dst, int16_t strength, ProgressCallback cb, int32_t start,
                    int32_t end, FocusRows<Depth16>* rows) {
  return FocusImage<Depth16>(src, dst, strength, cb, start, end, rows);
}

namespace entry {

int32_t ImageFocus(Kasa* src, Kasa* dst, int32_t strength, ProgressCallback cb, int32_t start,
                   int32_t end) {
  if (src == nullptr) return 0;
  const int type = src->GetImageType();
  const int16_t s = FocusStrengthFromArgument(strength);
  if (Depth8::Accepts(type)) return FocusImage8(src, dst, s, cb, start, end) == Status::Ok ? 1 : 0;
  if (Depth16::Accepts(type)) {
    return FocusImage16(src, dst, s, cb, start, end) == Status::Ok ? 1 : 0;
  }
  return 0;
}

}  // namespace entry

}  // namespace marlo
