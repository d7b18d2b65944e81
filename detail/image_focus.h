// Image focus: four-neighbour Laplacian sharpening (positive strength) and softening (negative
// strength) in 10-bit fixed point, row by row through three rotating source rows.
#ifndef MARLO_DETAIL_IMAGE_FOCUS_H
#define MARLO_DETAIL_IMAGE_FOCUS_H

#include <cstdint>
#include <vector>

#include "frame/band_edges.h"
#include "frame/frame.h"
#include "frame/simd.h"

namespace marlo {

// floor((laplacian * kl + 512) / 1024) in 16-bit arithmetic, for |laplacian| <= 1020 and
// kl = 0..1023 (the 8-bit row kernel's rounded low part of the gain). With a = 4 * laplacian and
// b = 16 * kl (both fit 16 bits), a * b = 64 * laplacian * kl, so the value is
// floor((a * b + 32768) / 65536) = hi + (lo >= 32768), hi and lo being the signed high and the
// unsigned low half of the 32-bit product: adding 32768 to lo carries into hi exactly when
// lo >= 32768. Both halves are single vector instructions on 16-bit lanes.
MARLO_KERNEL int16_t RoundedLowProduct(int16_t laplacian, int16_t kl) {
  const auto a = static_cast<int16_t>(laplacian * 4);
  const auto b = static_cast<int16_t>(kl * 16);
  const auto hi = static_cast<int16_t>((int32_t{a} * int32_t{b}) >> 16);
  const auto lo = static_cast<uint16_t>(static_cast<uint16_t>(a) * static_cast<uint16_t>(b));
  return static_cast<int16_t>(hi + (lo >> 15));
}

// The strength travels in the low 16 bits of a 32-bit argument; the upper half is ignored.
int16_t FocusStrengthFromArgument(int32_t argument);

// Fixed-point gain k (gain = k / 1024): strength * 2048 / 400 for strength >= 0,
// strength * 1024 / 400 below, both truncated toward zero (100 gives 512, -100 gives -256).
int32_t FocusGain(int16_t strength);

// Sharpens or softens every sample of `src` into `dst`:
//   v = x * 1024 + (4x - left - right - up - down) * k + 512, clamped to 0..max * 1024, >> 10.
// The first and last pixel of each row are copied unchanged; the first and last row use the row
// itself for the missing neighbour row. src == dst works: row y + 1 is read before row y is
// written. Progress: (start, end, start) first, whatever else happens; one step after each
// written row; (start, end, end) last, also when the work memory could not be had.
// Results: Ok; Refused for a null image or a source type other than the function's two (no
// closing report) and for a destination of another type, width or height; NoMemory (nothing
// written); Aborted when the callback asked to stop (rows written so far stay written); Changed
// when a callback changed an image (see frame/progress.h).
//
// The rows are split into bands over the run's threads (frame/threads.h); in place, the rows
// just outside each band are read before any band writes (frame/band_edges.h).
//
// `work`, when given, is the work memory taken beforehand for an image of the source's layout
// (a caller that must not fail half-way takes it before it writes anything); otherwise the call
// takes it itself. `watched`, when given, is watched by the progress reports in place of the
// destination (auto enhancement sharpens its destination in place and watches its own source).
template <class D>
class FocusRows {
 public:
  // The bands of `image`'s rows, four rows (above, current, below, output) per slot, and the
  // band edges of a run in place. Throws std::bad_alloc when memory is short.
  FocusRows(const Kasa& image, bool inPlace);
  FocusRows(const FocusRows&) = delete;
  FocusRows& operator=(const FocusRows&) = delete;

  const RowBands bands;
  std::vector<std::vector<typename D::Sample>> rows;  // 4 per slot
  BandEdges<D> edges;
};

template <class D>
Status FocusImage(Kasa* src, Kasa* dst, int16_t strength, ProgressCallback cb, int32_t start,
                  int32_t end, FocusRows<D>* work = nullptr, const Kasa* watched = nullptr);
Status FocusImage8(Kasa* src, Kasa* dst, int16_t strength, ProgressCallback cb, int32_t start,
                   int32_t end);
Status FocusImage16(Kasa* src, Kasa* dst, int16_t strength, ProgressCallback cb, int32_t start,
                    int32_t end);

}  // namespace marlo

#endif  // MARLO_DETAIL_IMAGE_FOCUS_H
